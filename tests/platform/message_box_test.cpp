// Real message boxes, from the GUI thread and from a worker through the
// engine's seam, and the real save chooser.
#include "platform/dialog/dialog.h"
#include "platform/dialog/gui_caller.h"
#include "platform/dialog/message_boxes.h"
#include "platform/dialog/save_file_chooser.h"
#include "tests/platform/gui_wait.h"
#include "tests/platform/loader_template.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

namespace platform {
namespace {

using test::WaitForModal;
using test::WaitUntil;

constexpr int kPollMs = 5;   // how often the answerer looks for a box

// Answers the next message box, after `inspect` has looked at it. A timer does
// it, so it also works from within the box's own modal loop.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer, std::function<void(QMessageBox*)> inspect = {})
        : m_answer(answer), m_inspect(std::move(inspect))
    {
        m_timer.callOnTimeout([this] { AnswerIfUp(); });
        m_timer.start(kPollMs);
    }

    bool Answered() const { return m_answered; }

private:
    void AnswerIfUp()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        m_timer.stop();
        if (m_inspect)
            m_inspect(box);
        m_answered = true;
        QTest::mouseClick(box->button(m_answer), Qt::LeftButton);
    }

    QTimer m_timer;
    QMessageBox::StandardButton m_answer;
    std::function<void(QMessageBox*)> m_inspect;
    bool m_answered = false;
};

TEST(MessageBoxTest, BoxesShowTheMessageAndReturnTheButtonClicked)
{
    Dialog owner(test::AboutTemplate());
    struct Row {
        MessageIcon icon;
        MessageButtons buttons;
        QMessageBox::StandardButton click;
        QMessageBox::Icon shownIcon;
        MessageAnswer answer;
    };
    const Row rows[] = {
        {MessageIcon::None, MessageButtons::Ok, QMessageBox::Ok, QMessageBox::NoIcon, MessageAnswer::Ok},
        {MessageIcon::Information, MessageButtons::Ok, QMessageBox::Ok, QMessageBox::Information, MessageAnswer::Ok},
        {MessageIcon::Question, MessageButtons::YesNo, QMessageBox::Yes, QMessageBox::Question, MessageAnswer::Yes},
        {MessageIcon::Exclamation, MessageButtons::YesNo, QMessageBox::No, QMessageBox::Warning, MessageAnswer::No},
        {MessageIcon::Error, MessageButtons::Ok, QMessageBox::Ok, QMessageBox::Critical, MessageAnswer::Ok},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.icon));
        const QMessageBox::StandardButtons buttons =
            row.buttons == MessageButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok;
        const BoxAnswerer answerer(row.click, [&](QMessageBox* box) {
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Velmor"));
            EXPECT_EQ(box->text(), QStringLiteral("Erase <flash>?"));
            EXPECT_EQ(box->icon(), row.shownIcon);
            EXPECT_EQ(box->standardButtons(), buttons);
            // Enter answers No where the question is Yes or No.
            EXPECT_EQ(box->defaultButton(), box->button(row.buttons == MessageButtons::YesNo ? QMessageBox::No
                                                                                              : QMessageBox::Ok));
            EXPECT_EQ(box->parentWidget(), owner.Widget());
        });
        EXPECT_EQ(ShowMessageBox(&owner, {L"Erase <flash>?", L"Velmor", row.buttons, row.icon}), row.answer);
    }
}

TEST(MessageBoxTest, WorkerWaitsOnTheGuiThreadsBoxUntilAnswered)
{
    Dialog owner(test::AboutTemplate());
    GuiCaller caller;
    const MessageBoxHandler previous = BindMessageBoxes(caller, &owner);

    std::atomic<bool> answered = false;
    std::atomic<MessageAnswer> answer = MessageAnswer::Ok;
    const BoxAnswerer answerer(QMessageBox::Yes, [&](QMessageBox* box) {
        EXPECT_EQ(box->parentWidget(), owner.Widget());
        EXPECT_FALSE(answered);   // the worker is held while the box is up
    });
    StartWorker([&] {
        answer = ShowMessage({L"Upload in progress. Quit anyway?", L"Velmor", MessageButtons::YesNo, MessageIcon::Question});
        answered = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return answered.load(); }));
    EXPECT_TRUE(answerer.Answered());
    EXPECT_EQ(answer, MessageAnswer::Yes);

    // With the gate shut no box comes up: the question gets No at once.
    caller.Shut();
    EXPECT_EQ(ShowMessage({L"Again?", L"Velmor", MessageButtons::YesNo, MessageIcon::Question}), MessageAnswer::No);
    SetMessageBoxHandler(previous);
}

TEST(SaveFileChooserTest, FiltersInTheWindowsFormBecomeQtFilters)
{
    const struct {
        std::wstring windows;
        QStringList qt;
    } rows[] = {
        {L"Image - FILES(*.bin)|*.bin|ALL files(*.*)|*.*||", {"Image - FILES (*.bin)", "ALL files (*)"}},
        {L"S-records|*.srec;*.s19||", {"S-records (*.srec *.s19)"}},
        {L"Logs (*.txt)|*.txt", {"Logs (*.txt)"}},
        {L"", {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(QtNameFilters(row.windows), row.qt);
}

TEST(SaveFileChooserTest, TheRealChooserReturnsTheFullPathOrNothing)
{
    Dialog owner(test::AboutTemplate());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString initial = QDir(folder.path()).filePath(QStringLiteral("fw.bin"));
    QFile existing(initial);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));   // picking an existing image is the usual case
    existing.close();
    const SaveFileRequest request {L"Save firmware", L"Image - FILES(*.bin)|*.bin|ALL files(*.*)|*.*||",
                                   initial.toStdWString()};

    QTimer::singleShot(0, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(WaitForModal("QFileDialog"));
        ASSERT_NE(chooser, nullptr);
        EXPECT_TRUE(chooser->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(chooser->windowTitle(), QStringLiteral("Save firmware"));
        EXPECT_EQ(chooser->nameFilters(), (QStringList {"Image - FILES (*.bin)", "ALL files (*)"}));
        EXPECT_EQ(chooser->parentWidget(), owner.Widget());
        QTest::keyClick(chooser, Qt::Key_Return);
    });
    const BoxAnswerer overwriteQuestion(QMessageBox::Yes);
    EXPECT_EQ(ChooseSaveFile(&owner, request), initial.toStdWString());
    EXPECT_FALSE(overwriteQuestion.Answered());

    QTimer::singleShot(0, [] {
        if (QWidget* chooser = WaitForModal("QFileDialog"))
            QTest::keyClick(chooser, Qt::Key_Escape);
    });
    EXPECT_EQ(ChooseSaveFile(&owner, request), std::nullopt);
}

} // namespace
} // namespace platform
