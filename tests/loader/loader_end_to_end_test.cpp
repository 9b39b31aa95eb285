// velmor end to end as a user drives it, offscreen: the simulated board on a
// pseudo-terminal, real clicks on "Connect GPS" and "Load".
#include "loader/loader_dialog.h"
#include "platform/paths.h"
#include "loader/loader_resources.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/image_preparation.h"
#include "platform/dialog/gui_caller.h"
#include "tests/loader/dialog_steps.h"
#include "tests/platform/gui_wait.h"
#include "tests/support/board_fixture.h"
#include "tests/support/image_files.h"
#include "tests/support/log_recorder.h"
#include "tests/support/pty_peer.h"

#include <QComboBox>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace velmor {
namespace {

using namespace std::chrono_literals;
using platform::test::WaitUntil;
using test::PaneHas;
using test::Pane;
using test::RunDialog;

class EndToEnd : public ::testing::Test {
protected:

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

    void ExpectBoardHoldsTheImage()
    {
        const auto image = test::ReadFile(platform::ProgramDirectory() + "MarnethAndPfl.bin");
        const uint32_t size = test::BoardFixture::WordAt(image, 0x4024) - 0x10000000;
        auto flash = test::ReadFile(m_board.FlashPath());
        ASSERT_GE(flash.size(), size);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + size, flash.begin()));
    }

    test::DeviceFolder m_folder;
    test::BoardFixture m_board {m_folder};
    test::BoxAnswers m_messages;
    platform::GuiCaller m_gui;
};

TEST_F(EndToEnd, ConnectAndLoadOnGps2)
{
    receiver::BoardOptions options;
    options.commandRate = 57600;
    m_board.Start(options, receiver::MakeSampleImage({}), "gps2");
    LoaderDialog dialog(m_gui);
    bool uploaded = false;
    RunDialog(dialog, [&] {
        auto* ports = qobject_cast<QComboBox*>(dialog.Item(kIdPortCombo));
        ports->setFocus();
        QTest::keyClick(ports, Qt::Key_Down);   // the user picks "GPS2:"
        EXPECT_EQ(dialog.ItemText(kIdPortCombo), L"GPS2:");
        uploaded = ConnectAndLoad(dialog, L"GPS connected at 57600");
    });
    EXPECT_TRUE(uploaded);
    ExpectBoardHoldsTheImage();
    EXPECT_TRUE(m_messages.Messages().empty());
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

} // namespace
} // namespace velmor
