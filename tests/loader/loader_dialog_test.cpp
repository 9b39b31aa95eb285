// The loader's main dialog as a user meets it, offscreen: controls in both
// modes, defaults, the chooser and Enter, the About box, the log pane and file,
// enabling around operations, and the close question.
#include "loader/about_dialog.h"
#include "loader/loader_dialog.h"
#include "loader/loader_resources.h"
#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "platform/paths.h"
#include "platform/dialog/gui_caller.h"
#include "platform/dialog/save_file_chooser.h"
#include "platform/text.h"
#include "tests/loader/dialog_steps.h"
#include "tests/platform/gui_wait.h"
#include "tests/support/device_folder.h"
#include "tests/support/image_files.h"

#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace velmor {
namespace {

using platform::test::WaitUntil;
using namespace std::chrono_literals;
using test::Pane;
using test::RunDialog;

std::string LogFileText()
{
    const auto bytes = test::ReadFile(platform::ProgramDirectory() + "Velmor.txt");
    return std::string(bytes.begin(), bytes.end());
}

class LoaderDialogTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetSaveFileHandler({}); }

    test::DeviceFolder m_folder;         // no devices in it unless a test adds one
    test::BoxAnswers m_messages {platform::MessageAnswer::No};
    platform::GuiCaller m_gui;
};

TEST_F(LoaderDialogTest, ControlsInBothModes)
{
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        const std::wstring defaultPath = platform::Widen(platform::ProgramDirectory() + "MarnethAndPfl.bin");
        EXPECT_EQ(dialog.Widget()->windowTitle().toStdWString(), L"GPS firmware loader");
        EXPECT_EQ(dialog.ItemText(kIdImageCombo), defaultPath);
        EXPECT_EQ(dialog.ComboCount(kIdImageCombo), 1);
        EXPECT_EQ(dialog.ItemText(kIdPortCombo), L"GPS1:");
        EXPECT_EQ(dialog.ComboCount(kIdBaudCombo), 5);
        EXPECT_EQ(dialog.ComboText(kIdBaudCombo, dialog.ComboCurSel(kIdBaudCombo)), L"4800");

        struct Expect {
            int id;
            bool visible;
            bool enabled;
            std::wstring text;
        };
        const std::vector<Expect> loaderMode = {
            {kIdBrowseOrSend, true, true, L"..."},   {kIdModeButton, false, true, L"Loader"},
            {kIdLoad, true, false, L"Load"},        {kIdBaudCombo, false, true, L"4800"},
            {kIdHex, false, true, L"Hex"},          {kIdPause, false, true, L"Pause"},
            {kIdStatusLine, true, true, L""},       {kIdImageLabel, true, true, L"Select FW Image"},
            {kIdLogo, true, true, L""},             {kIdPortCombo, true, true, L"GPS1:"},
            {kIdModeLabel, false, true, L"Mode"},   {kIdConnect, true, true, L"Connect GPS"},
        };
        for (const auto& e : loaderMode) {
            EXPECT_EQ(dialog.IsItemVisible(e.id), e.visible) << e.id;
            EXPECT_EQ(dialog.IsItemEnabled(e.id), e.enabled) << e.id;
            if (e.id != kIdLogo) {
                EXPECT_EQ(dialog.ItemText(e.id), e.text) << e.id;
            }
        }

        // The mode button is hidden; its command still switches.
        dialog.SendCommand(kIdModeButton);
        EXPECT_TRUE(dialog.TerminalMode());
        EXPECT_EQ(dialog.ItemText(kIdBrowseOrSend), L"Send");
        EXPECT_EQ(dialog.ItemText(kIdModeButton), L"Terminal");
        EXPECT_EQ(dialog.ItemText(kIdImageLabel), L"GPS Command");
        EXPECT_FALSE(dialog.IsItemVisible(kIdStatusLine));
        for (int id : {kIdBaudCombo, kIdHex, kIdPause})
            EXPECT_TRUE(dialog.IsItemVisible(id)) << id;
        EXPECT_FALSE(dialog.IsItemEnabled(kIdConnect));
        EXPECT_FALSE(dialog.IsItemVisible(kIdModeButton));
        EXPECT_EQ(dialog.ItemText(kIdImageCombo), L"");
        ASSERT_EQ(dialog.ComboCount(kIdImageCombo), 16);
        for (int i = 1; i < 16; ++i)
            EXPECT_LT(dialog.ComboText(kIdImageCombo, i - 1), dialog.ComboText(kIdImageCombo, i));

        // No device: the terminal cannot start; the outcome line and the controls say so.
        ASSERT_TRUE(WaitUntil([&] { return !Pane(dialog).empty() && Pane(dialog).back() == L"Upload failed"; }));
        EXPECT_TRUE(dialog.IsItemEnabled(kIdConnect));
        EXPECT_TRUE(dialog.TerminalMode());
        ASSERT_EQ(m_messages.Messages().size(), 1u);
        EXPECT_EQ(m_messages.Messages()[0].text, L"Can not open serial port 1.");

        dialog.SendCommand(kIdModeButton);
        EXPECT_FALSE(dialog.TerminalMode());
        EXPECT_EQ(dialog.ItemText(kIdImageCombo), defaultPath);
        EXPECT_TRUE(dialog.IsItemVisible(kIdStatusLine));
        EXPECT_FALSE(dialog.IsItemVisible(kIdBaudCombo));
        EXPECT_TRUE(Pane(dialog).empty());
    });
}

TEST_F(LoaderDialogTest, ChooserThenEnterActsAsConnect)
{
    std::vector<platform::SaveFileRequest> requests;
    std::optional<std::wstring> answer;
    platform::SetSaveFileHandler([&](const platform::SaveFileRequest& request, platform::Dialog*) {
        requests.push_back(request);
        return answer;
    });
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        const std::wstring defaultPath = dialog.ItemText(kIdImageCombo);
        // Before the chooser was ever used, Enter does nothing.
        dialog.SetFocusTo(kIdImageCombo);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_TRUE(m_messages.Messages().empty());
        EXPECT_TRUE(dialog.Widget()->isVisible());

        // A path over the field's limit is refused, never cut into another path.
        const std::wstring longest = L"/" + std::wstring(kImagePathMax - 1, L'i');
        const struct {
            std::optional<std::wstring> answer;
            std::wstring field;
            size_t messages;
        } rows[] = {
            {L"/images/other.bin", L"/images/other.bin", 0},
            {std::nullopt, L"/images/other.bin", 0},
            {longest + L"x", L"/images/other.bin", 1},
            {longest, longest, 1},
        };
        for (const auto& row : rows) {
            answer = row.answer;
            QTest::mouseClick(dialog.Item(kIdBrowseOrSend), Qt::LeftButton);
            EXPECT_EQ(dialog.ItemText(kIdImageCombo), row.field);
            EXPECT_EQ(dialog.ComboText(kIdImageCombo, 0), defaultPath);   // the list keeps the default
            EXPECT_EQ(m_messages.Messages().size(), row.messages);
            EXPECT_EQ(QApplication::focusWidget(), dialog.Item(kIdConnect));
        }
        ASSERT_EQ(requests.size(), std::size(rows));
        EXPECT_EQ(requests[0].title, L"Get name Image - file");
        EXPECT_EQ(requests[0].filter, L"Image - FILES(*.bin)|*.bin|ALL files(*.*)|*.*||");
        EXPECT_EQ(requests[0].initialName, defaultPath);
        ASSERT_EQ(m_messages.Messages().size(), 1u);
        EXPECT_EQ(m_messages.Messages()[0].text, L"The image path is too long: at most 259 characters.");

        // Enter, and the caption's OK, now run "Connect GPS": no device here.
        dialog.SetFocusTo(kIdImageCombo);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        ASSERT_EQ(m_messages.Messages().size(), 2u);
        EXPECT_EQ(m_messages.Messages()[1].text, L"Can not open serial port 1.");
        EXPECT_EQ(dialog.ItemText(kIdStatusLine), L"Cannot open GPS port.");
        dialog.SendCommand(platform::kIdOk);
        EXPECT_EQ(m_messages.Messages().size(), 3u);
        EXPECT_TRUE(dialog.Widget()->isVisible());
    });
}

TEST_F(LoaderDialogTest, PaneKeepsThirtyLinesAndTheFileKeepsAll)
{
    const std::string logWhere = "Log file: " + platform::ProgramDirectory() + "Velmor.txt";
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        // The test's folder can be written: the file lies beside the program.
        EXPECT_EQ(Pane(dialog), std::vector<std::wstring> {platform::Widen(logWhere)});
        for (int i = 1; i <= 31; ++i)
            dialog.LogLine(L"line " + std::to_wstring(i));
        dialog.StatusLine(L"a status");
        const auto lines = Pane(dialog);
        ASSERT_EQ(lines.size(), 30u);
        EXPECT_EQ(lines.front(), L"line 2");
        EXPECT_EQ(lines.back(), L"line 31");
        EXPECT_EQ(dialog.ListCurSel(kIdLogPane), 29);
        EXPECT_EQ(dialog.ItemText(kIdStatusLine), L"a status");
    });
    std::string expected = "GPS firmware loader 1.0.7\r\n" + logWhere + "\r\n";
    for (int i = 1; i <= 31; ++i)
        expected += "line " + std::to_string(i) + "\r\n";
    expected += "a status\r\n";
    EXPECT_EQ(LogFileText(), expected);   // nothing of an earlier run is left
}

// The controls around an operation, and what its end says: a failed upload
// tells the flash's state (plainly when the PFLD area is open) and what to do.
TEST_F(LoaderDialogTest, ControlsAroundAnOperationAndItsEnd)
{
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        const int inputs[] = {kIdConnect, kIdImageCombo, kIdBrowseOrSend, kIdModeButton, kIdPortCombo};
        dialog.ListReset(kIdLogPane);
        dialog.EnableItem(kIdLoad, true);
        dialog.SetInputControlsEnabled(false);
        EXPECT_FALSE(dialog.IsItemEnabled(kIdLoad));
        for (int id : inputs)
            EXPECT_FALSE(dialog.IsItemEnabled(id)) << id;
        EXPECT_TRUE(Pane(dialog).empty());

        dialog.Progress(Phase::Erase, 0, 0x34000);
        EXPECT_TRUE(dialog.UploadInProgress());
        Outcome failed = Outcome::Failed(Fault::LineGone, Phase::Program);
        failed.flash = {FlashState::Stage::Programming, 0x10000000, 0x10034000, 0x10002000};
        dialog.EndOperation(failed, true);
        EXPECT_FALSE(dialog.IsItemEnabled(kIdLoad));
        for (int id : inputs)
            EXPECT_TRUE(dialog.IsItemEnabled(id)) << id;
        EXPECT_FALSE(dialog.UploadInProgress());
        dialog.EndOperation(Outcome::Failed(Fault::PfldDeclined, Phase::Connect), true);
        dialog.EndOperation({}, true);
        EXPECT_EQ(Pane(dialog),
                  (std::vector<std::wstring> {
                      L"the receiver's flash is erased from 0x10000000 to 0x10034000 and programmed from 0x10000000 "
                      L"up to 0x10002000; the PFLD area (0x10000000 to 0x10004000) is not whole: do not switch the "
                      L"receiver off, it may not start again.",
                      L"The receiver waits in its loader: press \"Connect GPS\", then \"Load\" to upload again.",
                      L"Upload failed", L"the receiver's flash was not touched.", L"Upload failed", L"Upload complete"}));
    });
}

TEST_F(LoaderDialogTest, AboutBox)
{
    ReceiverInfo info;
    EXPECT_EQ(AboutDialog::TitleText(), L"GPS firmware loader 1.0.7");
    EXPECT_EQ(AboutDialog::InfoText(info), L"GPS firmware version N/a\r\nGPS Pfld version N/a\r\n");
    info.fw.minor = 2;
    info.pfld.major = 1;
    info.pfld.minor = 7;
    info.pflMode = true;
    EXPECT_EQ(AboutDialog::InfoText(info),
              L"GPS firmware version 0.2\r\nGPS Pfld version 1.7\r\nPFL mode detected\r\n");

    // The box shows what the last "Connect GPS" found: nothing yet.
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            QWidget* about = platform::test::WaitForModal("QDialog");
            ASSERT_NE(about, nullptr);
            EXPECT_EQ(about->windowTitle(), QString("About"));
            auto* infoEdit = about->findChild<QPlainTextEdit*>();
            ASSERT_NE(infoEdit, nullptr);
            EXPECT_EQ(infoEdit->toPlainText().toStdWString(),
                      L"GPS firmware version N/a\nGPS Pfld version N/a\n");
            shown = true;
            QTest::keyClick(about, Qt::Key_Return);   // its OK button closes it
        });
        QTest::mouseClick(dialog.Item(kIdLogo), Qt::LeftButton);
        EXPECT_TRUE(shown);

        // While the flash is being written the logo does nothing.
        dialog.Progress(Phase::Erase, 0, 1);
        dialog.ClickItem(kIdLogo);
        EXPECT_EQ(QApplication::activeModalWidget(), dialog.Widget());
    });
}

TEST_F(LoaderDialogTest, WhileTheFlashIsWrittenNoKeyClosesOrConnects)
{
    {
        LoaderDialog dialog(m_gui);
        EXPECT_EQ(RunDialog(dialog, [&] { QTest::keyClick(dialog.Widget(), Qt::Key_Escape); }), platform::kIdCancel);
        EXPECT_TRUE(m_messages.Messages().empty());
    }
    platform::SetSaveFileHandler([](const platform::SaveFileRequest&, platform::Dialog*) { return std::nullopt; });
    platform::GuiCaller gui;
    LoaderDialog dialog(gui);
    const int result = RunDialog(dialog, [&] {
        dialog.SendCommand(kIdBrowseOrSend);   // cancelled, yet OK now means "Connect GPS"
        dialog.SetInputControlsEnabled(false);   // as "Load" leaves them
        dialog.Progress(Phase::Erase, 0, 1);
        dialog.ListReset(kIdLogPane);
        dialog.LogLine(L"Erasing flash...");
        QWidget* captionOk = dialog.Widget()->findChild<QToolButton*>(QStringLiteral("captionOk"));
        // Each way in, answered No where it asks: the dialog stays and nothing else runs.
        const struct {
            const char* way;
            std::function<void()> act;
            size_t questions;
        } rows[] = {
            {"Escape", [&] { QTest::keyClick(dialog.Widget(), Qt::Key_Escape); }, 1},
            {"close box", [&] { dialog.Widget()->windowHandle()->close(); }, 2},
            {"Enter", [&] { QTest::keyClick(dialog.Widget(), Qt::Key_Return); }, 2},
            {"caption OK", [&] { QTest::mouseClick(captionOk, Qt::LeftButton); }, 2},
        };
        for (const auto& row : rows) {
            row.act();
            EXPECT_EQ(m_messages.Messages().size(), row.questions) << row.way;
            EXPECT_TRUE(dialog.Widget()->isVisible()) << row.way;
            EXPECT_EQ(Pane(dialog), std::vector<std::wstring> {L"Erasing flash..."}) << row.way;
        }
        ASSERT_FALSE(m_messages.Messages().empty());
        const auto question = m_messages.Messages()[0];
        EXPECT_EQ(question.text,
                  L"GPS uploading is in progress. Terminating may cause GPS failure.\r\nTerminate anyway ?");
        EXPECT_EQ(question.caption, L"Velmor Firmware Loader");
        EXPECT_EQ(question.buttons, platform::MessageButtons::YesNo);

        const test::BoxAnswers yes {platform::MessageAnswer::Yes};
        QTest::keyClick(dialog.Widget(), Qt::Key_Escape);
        EXPECT_EQ(yes.Messages().size(), 1u);
    });
    EXPECT_EQ(result, platform::kIdCancel);
}

} // namespace
} // namespace velmor
