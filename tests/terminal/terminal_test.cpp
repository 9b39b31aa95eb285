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
    void TearDown() override { Stop(); }

    // Enters terminal mode as the dialog does: a new session, the worker, then the rate.
    void Start(int baudCommand = CmdBaud4800)
    {
        m_session = std::make_shared<TerminalSession>(m_session);
        m_session->baud = m_baud;
        m_worker = std::thread([this, session = m_session] { RunTerminal(*session, m_log); });
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
        m_session->SetSendText(text);
        PostCommand(CmdSend);
    }
    void PostCommand(int command) { m_session->Post(command); }
    bool PaneHas(const std::wstring& line)
    {
        return WaitUntil([&] { return m_log.HasPaneLine(line); });
    }

    test::DeviceFolder m_folder;
    test::PtyPeer m_peer {m_folder.Path(), "gps1"};
    test::LogRecorder m_log;
    std::shared_ptr<TerminalSession> m_session;
    uint32_t m_baud = 4800;
    std::thread m_worker;
};

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

TEST_F(Terminal, ReopenFailureEndsTheTerminal)
{
    Start();
    m_session->SetPortName(L"GPS3:");
    PostCommand(CmdReopen);
    ASSERT_TRUE(m_session->WaitEnded(5000));
    m_worker.join();
    EXPECT_EQ(m_log.PortFailures(), std::vector<Fault> {Fault::PortNotFound});
}

TEST(TerminalParse, HexBytes)
{
    const struct {
        const char* text;
        std::string bytes;
    } rows[] = {
        {"@ 24 24 0 7 A 0 D", std::string("\x24\x24\x00\x07\x0A\x00\x0D", 7)},
        {"@", ""},
        {"@  0x91   ff zz", std::string("\x91\xFF\x00", 3)},   // runs of blanks, 0x, no number
        {"@1\t2 3", "\x01\x03"},                                // a tab is no separator
    };
    for (const auto& row : rows) {
        char send[kSendBufferSize] = {};
        std::strcpy(send, row.text);
        const size_t n = ParseHexBytes(send);
        EXPECT_EQ(std::string(send, n), row.bytes) << row.text;
    }
}

} // namespace
} // namespace velmor
