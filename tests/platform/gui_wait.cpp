// Event-driven waits for the widget tests.
#include "tests/platform/gui_wait.h"

#include "platform/dialog/dialog.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

namespace platform::test {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    // Conditions that change without an event (a worker's flag) are looked at again this often.
    constexpr std::chrono::milliseconds kRecheck {10};
    const QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(kRecheck, &loop, [] {});
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QWidget* WaitForModal(const char* className)
{
    QWidget* found = nullptr;
    WaitUntil([&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->inherits(className) && modal->isVisible())
            found = modal;
        return found != nullptr;
    });
    return found;
}

int RunModal(Dialog& dialog, const std::function<void()>& steps, std::chrono::milliseconds limit)
{
    QDialog* window = dialog.Widget();
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, window, [&dialog] { dialog.EndDialog(kTimedOut); });
    QTimer::singleShot(0, window, [&] {
        guard.start(limit);
        if (QTest::qWaitForWindowExposed(window))
            steps();
        if (window->isVisible())
            dialog.EndDialog(0);
    });
    return dialog.DoModal();
}

bool Shown(Dialog& dialog)
{
    dialog.Widget()->show();
    return QTest::qWaitForWindowExposed(dialog.Widget());
}

} // namespace platform::test
