// The main dialog against the simulated board on a pseudo-terminal, offscreen,
// as a user drives it: "Connect GPS" and "Load", and the command terminal.
#include "loader/loader_dialog.h"
#include "loader/loader_resources.h"
#include "loader/upload/update_operation.h"
#include "platform/dialog/gui_caller.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/loader/dialog_steps.h"
#include "tests/platform/gui_wait.h"
#include "tests/support/board_fixture.h"
#include "tests/support/image_files.h"
#include "tests/support/log_recorder.h"
#include "tests/support/pty_peer.h"

#include <QComboBox>
#include <QLineEdit>
#include <QDialog>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

namespace velmor {
namespace {

using namespace std::chrono_literals;
using platform::test::WaitUntil;
using test::Pane;
using test::PaneHas;
using test::RunDialog;

std::string Received(receiver::SimulatedBoard& board)
{
    const auto bytes = board.Transcript().ReceivedBytes();
    return std::string(bytes.begin(), bytes.end());
}

class BoardDialog : public ::testing::Test {
protected:
    void Send(LoaderDialog& dialog, const std::wstring& command)
    {
        dialog.SetItemText(kIdImageCombo, command);
        QTest::mouseClick(dialog.Item(kIdBrowseOrSend), Qt::LeftButton);
    }
    void ClickCheck(LoaderDialog& dialog, int id)
    {
        QTest::mouseClick(dialog.Item(id), Qt::LeftButton, {}, QPoint(3, dialog.Item(id)->height() / 2));
    }
    // Clicks "Connect GPS", then "Load"; true when the upload completed.
    bool ConnectAndLoad(LoaderDialog& dialog, const wchar_t* connectedLine)
    {
        QTest::mouseClick(dialog.Item(kIdConnect), Qt::LeftButton);   // blocks while it detects
        EXPECT_TRUE(PaneHas(dialog, L" GPS flash information"));
        EXPECT_TRUE(PaneHas(dialog, connectedLine));
        EXPECT_TRUE(PaneHas(dialog, L"Main FW ver:0.2 (V2.15)"));
        if (!dialog.IsItemEnabled(kIdLoad))
            return false;
        QTest::mouseClick(dialog.Item(kIdLoad), Qt::LeftButton);
        EXPECT_FALSE(dialog.IsItemEnabled(kIdConnect));   // disabled while the worker runs
        const bool done = WaitUntil([&] { return PaneHas(dialog, L"Upload complete") || PaneHas(dialog, L"Upload failed"); },
                                    45s);
        return done && PaneHas(dialog, L"Upload complete") && dialog.IsItemEnabled(kIdConnect)
            && !dialog.IsItemEnabled(kIdLoad);
    }

    test::DeviceFolder m_folder;
    test::BoardFixture m_board {m_folder};
    test::BoxAnswers m_messages;
    platform::GuiCaller m_gui;
};

class TerminalDialog : public BoardDialog {};
class EndToEnd : public BoardDialog {};

TEST_F(EndToEnd, ConnectAndLoadOnGps2)
{
    receiver::BoardOptions options;
    options.commandRate = 57600;
    m_board.Start(options, receiver::MakeSampleImage({}), "gps2");
    const auto image = test::ReadFile(platform::ProgramDirectory() + "MarnethAndPfl.bin");
    const std::string typed = m_folder.File("typed.bin");
    test::WriteFile(typed, image);
    LoaderDialog dialog(m_gui);
    bool uploaded = false;
    RunDialog(dialog, [&] {
        auto* ports = qobject_cast<QComboBox*>(dialog.Item(kIdPortCombo));
        ports->setFocus();
        QTest::keyClick(ports, Qt::Key_Down);   // the user picks "GPS2:"
        EXPECT_EQ(dialog.ItemText(kIdPortCombo), L"GPS2:");
        // A path typed over the default one is the image loaded.
        auto* path = qobject_cast<QComboBox*>(dialog.Item(kIdImageCombo))->lineEdit();
        path->selectAll();
        QTest::keyClicks(path, QString::fromStdString(typed));
        uploaded = ConnectAndLoad(dialog, L"GPS connected at 57600");
        EXPECT_TRUE(PaneHas(dialog, platform::Widen("Opening '" + typed + "' ...")));
    });
    EXPECT_TRUE(uploaded);
    EXPECT_TRUE(m_board.Holds(image, test::BoardFixture::WordAt(image, 0x4024) - 0x10000000));
    EXPECT_TRUE(m_messages.Messages().empty());
}

// An upload left unfinished (stopped during the erase): "Connect GPS" finds
// the loader still running and says what to do, "Load" asks about the PFLD it
// cannot know and, answered Yes, finishes the upload without a restart.
TEST_F(EndToEnd, UnfinishedUploadIsFinished)
{
    receiver::BoardOptions slowErase;
    slowErase.sectorEraseTime = 1s;
    auto& board = m_board.Start(slowErase, receiver::MakeSampleImage({}));
    const auto image = test::ReadFile(platform::ProgramDirectory() + "MarnethAndPfl.bin");
    {
        test::LogRecorder log;
        UpdateRequest request;
        request.port = "GPS1:";
        request.image = ReadImage(platform::ProgramDirectory() + "MarnethAndPfl.bin");
        std::stop_source stop;
        auto run = std::async(std::launch::async, [&] { return RunUpdate(request, log, stop.get_token()); });
        ASSERT_TRUE(board.Transcript().WaitForErases(1, 60s));
        stop.request_stop();
        ASSERT_EQ(run.get().outcome.fault, Fault::Stopped);
    }
    test::BoxAnswers yes(platform::MessageAnswer::Yes);
    LoaderDialog dialog(m_gui);
    bool uploaded = false;
    RunDialog(dialog, [&] {
        QTest::mouseClick(dialog.Item(kIdConnect), Qt::LeftButton);
        EXPECT_TRUE(PaneHas(dialog, L"A GPS loader answers at 19200: an upload was left unfinished."));
        EXPECT_EQ(Pane(dialog).back(), L"Press \"Load\" to upload again; do not switch the receiver off.");
        ASSERT_TRUE(dialog.IsItemEnabled(kIdLoad));
        QTest::mouseClick(dialog.Item(kIdLoad), Qt::LeftButton);
        uploaded = WaitUntil([&] { return PaneHas(dialog, L"Upload complete"); }, 45s);
    });
    EXPECT_TRUE(uploaded);
    ASSERT_EQ(yes.Messages().size(), 1u);
    EXPECT_EQ(yes.Messages()[0].text, L"PFLD update requiered.\r\nContinue ?");
    EXPECT_EQ(yes.Messages()[0].caption, L" Warning: Unsafe mode");
    EXPECT_EQ(yes.Messages()[0].buttons, platform::MessageButtons::YesNo);
    EXPECT_TRUE(m_board.Holds(image, test::BoardFixture::WordAt(image, 0x4024) - 0x10000000));
}

TEST_F(EndToEnd, NoBoardAnswers)
{
    test::PtyPeer silent(m_folder.Path(), "gps1");
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        QTest::mouseClick(dialog.Item(kIdConnect), Qt::LeftButton);
        EXPECT_EQ(Pane(dialog).back(), L"Cannot connect to GPS.");
        EXPECT_FALSE(dialog.IsItemEnabled(kIdLoad));
    });
}

TEST_F(TerminalDialog, CommandsAndTheReceiversLines)
{
    receiver::BoardOptions options;
    options.streamPeriod = 300ms;
    auto& board = m_board.Start(options, receiver::MakeSampleImage({}));
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        dialog.SendCommand(kIdModeButton);
        ASSERT_TRUE(WaitUntil([&] { return board.ClientBaud() == 4800; }));

        // A canned command picked from the list, then sent.
        auto* combo = qobject_cast<QComboBox*>(dialog.Item(kIdImageCombo));
        const int rid = combo->findText("$PKVRQ,RID");
        ASSERT_GE(rid, 0);
        combo->setCurrentIndex(rid);
        QTest::mouseClick(dialog.Item(kIdBrowseOrSend), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return Received(board).find("$PKVRQ,RID\r\n") != std::string::npos; }));
        ASSERT_TRUE(WaitUntil([&] {
            const auto lines = Pane(dialog);
            return std::any_of(lines.begin(), lines.end(), [](const std::wstring& l) { return l.rfind(L"$PKVRR,RID,", 0) == 0; });
        }));

        // Hex rows of eight bytes.
        ClickCheck(dialog, kIdHex);
        ASSERT_TRUE(dialog.HexDisplay());
        ASSERT_TRUE(WaitUntil([&] {
            const auto lines = Pane(dialog);
            return !lines.empty() && lines.back().size() == 24 && lines.back()[2] == L' ';
        }));
        ClickCheck(dialog, kIdHex);

        // Pause: nothing new reaches the pane.
        ClickCheck(dialog, kIdPause);
        ASSERT_TRUE(dialog.PauseDisplay());
        QTest::qWait(100);
        const size_t paused = dialog.ListCount(kIdLogPane);
        const auto pausedLast = Pane(dialog).back();
        QTest::qWait(700);   // two stream periods
        EXPECT_EQ(dialog.ListCount(kIdLogPane), int(paused));
        EXPECT_EQ(Pane(dialog).back(), pausedLast);
        ClickCheck(dialog, kIdPause);
        ASSERT_TRUE(WaitUntil([&] { return Pane(dialog).back() != pausedLast; }));

        // The raw boot request: nine bytes, and the board is in its resident loader.
        board.Transcript().Clear();
        Send(dialog, L"@ 24 24 0 7 A 0 D");
        ASSERT_TRUE(WaitUntil([&] { return Received(board).size() >= 9; }));
        EXPECT_EQ(Received(board).substr(0, 9), std::string("\x24\x24\x00\x07\x0A\x00\x0D\r\n", 9));
        EXPECT_TRUE(WaitUntil([&] { return board.Mode() == receiver::BoardMode::Pfl; }));
        dialog.SendCommand(kIdModeButton);
    });
}

TEST_F(TerminalDialog, RateAndPortChanges)
{
    auto& first = m_board.Start({}, receiver::MakeSampleImage({}), "gps1");
    test::BoardFixture secondFixture {m_folder};
    receiver::BoardOptions options;
    options.commandRate = 9600;
    auto& second = secondFixture.Start(options, receiver::MakeSampleImage({}), "gps2");
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        auto* bauds = qobject_cast<QComboBox*>(dialog.Item(kIdBaudCombo));
        dialog.SendCommand(kIdModeButton);
        ASSERT_TRUE(WaitUntil([&] { return first.ClientBaud() == 4800; }));

        // The user picks 9600: the open port follows.
        bauds->setFocus();
        QTest::keyClick(bauds, Qt::Key_Home);   // "9600", the first entry
        EXPECT_EQ(dialog.ItemText(kIdBaudCombo), L"9600");
        ASSERT_TRUE(WaitUntil([&] { return first.ClientBaud() == 9600; }));

        // Another port: the terminal reopens there at the chosen rate.
        auto* ports = qobject_cast<QComboBox*>(dialog.Item(kIdPortCombo));
        ports->setFocus();
        QTest::keyClick(ports, Qt::Key_Down);
        ASSERT_TRUE(WaitUntil([&] { return second.ClientBaud() == 9600; }));
        Send(dialog, L"$PKVRQ,PRT");
        ASSERT_TRUE(WaitUntil([&] { return Received(second).find("$PKVRQ,PRT\r\n") != std::string::npos; }));
        EXPECT_EQ(Received(first).find("$PKVRQ,PRT"), std::string::npos);
        dialog.SendCommand(kIdModeButton);
    });
    EXPECT_TRUE(m_messages.Messages().empty());
}

TEST_F(TerminalDialog, QuickLeaveAndEnterAgain)
{
    auto& board = m_board.Start({}, receiver::MakeSampleImage({}));
    LoaderDialog dialog(m_gui);
    RunDialog(dialog, [&] {
        dialog.SendCommand(kIdModeButton);
        ASSERT_TRUE(WaitUntil([&] { return board.ClientBaud() == 4800; }));
        dialog.SendCommand(kIdModeButton);   // leave
        dialog.SendCommand(kIdModeButton);   // and enter again at once
        EXPECT_TRUE(dialog.TerminalMode());
        Send(dialog, L"$PKVRQ,PRT");
        ASSERT_TRUE(WaitUntil([&] { return Received(board).find("$PKVRQ,PRT\r\n") != std::string::npos; }, 10s));
        dialog.SendCommand(kIdModeButton);
    });
    // The second terminal opened the port: no "Can not open serial port 1."
    EXPECT_TRUE(m_messages.Messages().empty());
}

// Closing while a worker logs line after line: the dialog goes, the worker ends,
// and nothing waits on the other for ever.
TEST_F(TerminalDialog, CloseWhileTheTerminalReceives)
{
    receiver::BoardOptions options;
    options.streamPeriod = 50ms;
    auto& board = m_board.Start(options, receiver::MakeSampleImage({}));
    {
        LoaderDialog dialog(m_gui);
        RunDialog(dialog, [&] {
            dialog.SendCommand(kIdModeButton);
            ASSERT_TRUE(WaitUntil([&] { return board.ClientBaud() == 4800 && dialog.ListCount(kIdLogPane) > 3; }));
            QTest::keyClick(dialog.Widget(), Qt::Key_Escape);
        });
        EXPECT_TRUE(dialog.ShutDownWorkers());
    }
}

// Closing during an upload, after saying Yes to the question: the worker
// stops, and its last words reach the log file.
TEST_F(TerminalDialog, CloseDuringAnUpload)
{
    test::BoxAnswers yes {platform::MessageAnswer::Yes};
    receiver::BoardOptions options;
    options.sectorEraseTime = 2s;   // the close comes while the flash is erased, however fast the machine
    auto& board = m_board.Start(options, receiver::MakeSampleImage({}));
    {
        LoaderDialog dialog(m_gui);
        RunDialog(dialog, [&] {
            QTest::mouseClick(dialog.Item(kIdConnect), Qt::LeftButton);
            ASSERT_TRUE(dialog.IsItemEnabled(kIdLoad));
            QTest::mouseClick(dialog.Item(kIdLoad), Qt::LeftButton);
            ASSERT_TRUE(WaitUntil([&] { return dialog.UploadInProgress(); }, 90s));
            dialog.Widget()->close();
        });
        EXPECT_TRUE(dialog.ShutDownWorkers());
    }
    ASSERT_EQ(yes.Messages().size(), 1u);
    EXPECT_EQ(yes.Messages()[0].caption, L"Velmor Firmware Loader");
    EXPECT_EQ(board.Transcript().Uploads().size(), 0u);   // it never finished
    // Velmor.txt still tells how the upload ended and what the flash holds.
    const auto bytes = test::ReadFile(platform::ProgramDirectory() + "Velmor.txt");
    const std::string log(bytes.begin(), bytes.end());
    EXPECT_NE(log.find("the receiver's flash may be partly erased from 0x10000000"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("Upload failed\r\n")) << log;
}

} // namespace
} // namespace velmor
