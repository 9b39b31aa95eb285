// The command terminal's loop against a scripted receiver on a pseudo-terminal.
#include "loader/operation.h"
#include "loader/terminal/terminal.h"
#include "tests/support/device_folder.h"
#include "tests/support/log_recorder.h"
#include "tests/support/pty_peer.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

class Terminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetHexDisplay(false);
        SetPauseDisplay(false);
        SetPortName(L"GPS1:");
        SetTerminalBaud(4800);
    }
    void TearDown() override { Stop(); }

    // Enters terminal mode as the dialog does: a new session, the worker, then the rate.
    void Start(int baudCommand = CmdBaud4800)
    {
        m_session = BeginTerminalSession();
        m_worker = std::thread([session = m_session, port = PortName()] { RunOperation(port, L"", true, session); });
        PostCommand(baudCommand);
    }
    // Waits until the loop has switched to `baud` and is reading: a rate change
    // purges what came before it.
    void Ready(uint32_t baud, test::PtyPeer& peer)
    {
        ASSERT_TRUE(WaitUntil([&] { return peer.Speed() == baud; }));
        Send(L"");
        ASSERT_EQ(peer.Read(2, 5s), "\r\n");
    }
    void Stop()
    {
        if (m_worker.joinable()) {
            PostCommand(CmdStop);
            m_worker.join();
        }
    }
    void Send(const std::wstring& text)
    {
        SetSendText(text);
        PostCommand(CmdSend);
    }
    bool PaneHas(const std::wstring& line)
    {
        return WaitUntil([&] { return m_log.HasPaneLine(line); });
    }

    test::DeviceFolder m_folder;
    test::PtyPeer m_peer {m_folder.Path(), "gps1"};
    test::LogRecorder m_log;
    std::shared_ptr<TerminalSession> m_session;
    std::thread m_worker;
};

TEST_F(Terminal, EntersAtTheSelectedRateAndSends)
{
    Start();
    ASSERT_TRUE(WaitUntil([&] { return m_peer.Speed() == 4800; }));

    Send(L"$PKVRQ,RID");
    EXPECT_EQ(m_peer.Read(12, 3s), "$PKVRQ,RID\r\n");
    Send(L"@ 24 24 0 7 A 0 D");
    EXPECT_EQ(m_peer.Read(9, 3s), std::string("\x24\x24\x00\x07\x0A\x00\x0D\r\n", 9));
    Send(L"@");
    EXPECT_EQ(m_peer.Read(2, 3s), "\r\n");
    Send(L"");
    EXPECT_EQ(m_peer.Read(2, 3s), "\r\n");
    Send(L"@  0x91   ff zz");   // runs of blanks, a 0x prefix, a piece that is no number
    EXPECT_EQ(m_peer.Read(5, 3s), std::string("\x91\xFF\x00\r\n", 5));

    PostCommand(CmdBaud115200);
    EXPECT_TRUE(WaitUntil([&] { return m_peer.Speed() == 115200; }));
}

TEST_F(Terminal, TextLines)
{
    Start();
    Ready(4800, m_peer);
    m_peer.Write("$GPGGA,1,2*5Axyz\r\n\r\n\r\n$GPRMC,a\x01\x7F\x80\xFF" "b\r\n");
    ASSERT_TRUE(PaneHas(L"$GPRMC,a \x7F  b"));
    EXPECT_EQ(m_log.PaneLines(), (std::vector<std::wstring> {L"$GPGGA,1,2*5A", L"$GPRMC,a \x7F  b"}));

    // A line longer than 511 characters comes in pieces; the byte at each cut is lost.
    std::string longLine;
    for (int i = 0; i < 1100; ++i)
        longLine += char('a' + i % 26);
    m_peer.Write(longLine + "\n");
    ASSERT_TRUE(WaitUntil([&] { return m_log.PaneLines().size() == 5; }));
    const auto lines = m_log.PaneLines();
    EXPECT_EQ(lines[2].size(), 511u);
    EXPECT_EQ(lines[3].size(), 511u);
    EXPECT_EQ(lines[3][0], wchar_t(longLine[512]));
    EXPECT_EQ(lines[4].size(), 1100u - 1024);
}

TEST_F(Terminal, HexRowsAndPause)
{
    Start();
    Ready(4800, m_peer);
    SetHexDisplay(true);
    m_peer.Write(std::string("\x91\x05\x00\x7F\x80\x0D\x0A\x41\x42", 9));
    ASSERT_TRUE(PaneHas(L"91 05 00 7F 80 0D 0A 41 "));

    SetHexDisplay(false);
    m_peer.Write("\r\n");   // ends the row begun in hex: "42 "
    ASSERT_TRUE(PaneHas(L"42 "));

    SetPauseDisplay(true);
    m_peer.Write("dropped one\r\nhalf");
    ASSERT_TRUE(m_peer.WaitConsumed());
    SetPauseDisplay(false);
    m_peer.Write(" line\r\nshown\r\n");
    ASSERT_TRUE(PaneHas(L"shown"));
    const auto lines = m_log.PaneLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"dropped one"), 0);
    EXPECT_EQ(lines.back(), L"shown");
}

TEST_F(Terminal, PortChangeReopens)
{
    test::PtyPeer second {m_folder.Path(), "gps2"};
    SetTerminalBaud(19200);
    Start(CmdBaud19200);
    Ready(19200, m_peer);
    SetPortName(L"GPS2:");
    PostCommand(CmdReopen);
    ASSERT_TRUE(WaitUntil([&] { return second.Speed() == 19200; }));
    Send(L"$PKVRQ,PRT");
    EXPECT_EQ(second.Read(12, 3s), "$PKVRQ,PRT\r\n");
    EXPECT_EQ(m_peer.ReadAll(), "");
}

TEST_F(Terminal, ReopenFailureEndsTheTerminal)
{
    Start();
    SetPortName(L"GPS3:");
    PostCommand(CmdReopen);
    ASSERT_TRUE(m_session->WaitEnded(5000));
    m_worker.join();
    EXPECT_EQ(m_log.Messages().size(), 1u);
    EXPECT_EQ(m_log.Messages()[0].text, L"Can not open serial port 1.");
}

TEST_F(Terminal, QuickLeaveAndReenter)
{
    Start();
    ASSERT_TRUE(WaitUntil([&] { return m_peer.Speed() == 4800; }));
    std::shared_ptr<TerminalSession> first = m_session;
    std::thread firstWorker = std::move(m_worker);

    // Leave and enter again at once: the new rate command must not replace the stop.
    PostCommand(CmdStop);
    Start(CmdBaud57600);
    ASSERT_TRUE(first->WaitEnded(5000));
    firstWorker.join();
    Ready(57600, m_peer);
    Send(L"$PKVRQ,PRT");
    EXPECT_EQ(m_peer.Read(12, 3s), "$PKVRQ,PRT\r\n");
    EXPECT_TRUE(m_log.Messages().empty());   // the second terminal opened the port
}

TEST(TerminalParse, HexBytes)
{
    char send[kSendBufferSize] = "@ 24 24 0 7 A 0 D";
    EXPECT_EQ(ParseHexBytes(send), 7u);
    EXPECT_EQ(std::memcmp(send, "\x24\x24\x00\x07\x0A\x00\x0D", 7), 0);
    char tabs[kSendBufferSize] = "@1\t2 3";   // a tab is no separator
    EXPECT_EQ(ParseHexBytes(tabs), 2u);
    EXPECT_EQ(uint8_t(tabs[0]), 0x01);
    EXPECT_EQ(uint8_t(tabs[1]), 0x03);
}

} // namespace
} // namespace velmor
