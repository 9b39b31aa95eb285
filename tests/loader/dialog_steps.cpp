#include "tests/loader/dialog_steps.h"

#include "loader/loader_dialog.h"
#include "loader/loader_resources.h"

#include <QDialog>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace velmor::test {

int RunDialog(platform::Dialog& dialog, const std::function<void()>& steps, std::chrono::milliseconds limit)
{
    constexpr int kTimedOut = -999;
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

std::vector<std::wstring> PaneLines(LoaderDialog& dialog)
{
    std::vector<std::wstring> lines;
    for (int i = 0; i < dialog.ListCount(kIdLogPane); ++i)
        lines.push_back(dialog.ListText(kIdLogPane, i));
    return lines;
}

bool PaneHas(LoaderDialog& dialog, const std::wstring& line)
{
    const auto lines = PaneLines(dialog);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace velmor::test
