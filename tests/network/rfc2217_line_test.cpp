// The RFC 2217 line: its telnet decoding table, and the line against a server
// played by the test on the other end of a socket pair, byte for byte.
#include "platform/line_opener.h"
#include "platform/rfc2217_line.h"
#include "platform/serial_port.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// What ser2net 4.3 sends first on a new connection.
const std::string kServerHello = "\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x01\xFF\xFE\x01\xFF\xFD\x00\xFF\xFB\x00\xFF\xFD\x2C"s;

TEST(TelnetClient, DecodesWhatTheServerSends)
{
    const struct {
        const char* legend;
        std::vector<std::string> pieces;   // as they come off the socket
        std::string data, reply, messages;  // messages as "command:value@dataBefore"
    } rows[] = {
        {"0xFF doubled is one data byte", {"a\xFF\xFF" "b"}, "a\xFF" "b", "", ""},
        {"IAC cut from its pair", {"a\xFF", "\xFF" "b"}, "a\xFF" "b", "", ""},
        {"an answer between data bytes", {"ab\xFF\xFA\x2C\x70\x03\xFF\xF0" "cd"}, "abcd", "", "12:03@2"},
        {"an answer cut three times", {"\xFF\xFA\x2C", "\x65\x00\x00\x4B\x00\xFF"s, "\xF0"}, "", "", "1:00004b00@0"},
        {"0xFF in an answer's value", {"\xFF\xFA\x2C\x65\x00\x00\xFF\xFF\xFF\xFF\xFF\xF0"s}, "", "",
         "1:0000ffff@0"},
        {"NOP and GA carry nothing", {"a\xFF\xF1" "b\xFF\xF9" "c"}, "abc", "", ""},
        {"ser2net's greeting: only its ECHO is refused", {kServerHello}, "", "\xFF\xFE\x01", ""},
        {"options not wanted are refused", {"\xFF\xFD\x18\xFF\xFB\x18\xFF\xFD\x05"}, "",
         "\xFF\xFC\x18\xFF\xFE\x18\xFF\xFC\x05", ""},
        {"BINARY switched off and on again", {kServerHello, "\xFF\xFC\x00\xFF\xFB\x00"s}, "",
         "\xFF\xFE\x01\xFF\xFE\x00\xFF\xFD\x00"s, ""},
        {"a subnegotiation given up for a command", {"\xFF\xFA\x2C\x65\xFF\xFF\xFF\xFD\x18z"}, "z", "\xFF\xFC\x18", ""},
    };
    for (const auto& row : rows) {
        rfc2217::TelnetClient client;
        client.Greeting();
        Bytes data, reply;
        std::vector<rfc2217::ServerMessage> messages;
        std::string shown;
        for (const auto& piece : row.pieces) {
            messages.clear();
            client.Feed(reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), data, reply, messages);
            for (const auto& m : messages) {
                char text[64];
                int at = std::snprintf(text, sizeof text, "%u:", m.command);
                for (uint8_t v : m.value)
                    at += std::snprintf(text + at, sizeof text - size_t(at), "%02x", v);
                std::snprintf(text + at, sizeof text - size_t(at), "@%zu", m.dataBefore);
                shown += text;
            }
        }
        EXPECT_EQ(data, B(row.data)) << row.legend;
        EXPECT_EQ(reply, B(row.reply)) << row.legend;
        EXPECT_EQ(shown, row.messages) << row.legend;
    }
}

// The server's end of a socket pair, played by the test: what it says is
// written ahead of the line's reads, what the line sent is read back.
class LineTest : public ::testing::Test {
protected:
    LineTest() { Reconnect(); }
    ~LineTest() override { Reconnect(false); }
    void Reconnect(bool again = true)
    {
        for (int& fd : m_pair)
            if (fd >= 0)
                close(std::exchange(fd, -1));
        if (again)
            socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_pair);
    }
    static std::string Answer(uint8_t command, const std::string& value)
    {
        return "\xFF\xFA\x2C" + std::string(1, char(command + 100)) + value + "\xFF\xF0";
    }
    // DO COM-PORT-OPTION, and the answers to 8N1 at `rate` and to the purge.
    std::unique_ptr<Rfc2217Line> Attach(const std::string& rate = "\x00\x00\x12\xC0"s, NetworkPort where = {"bench", 4001})
    {
        Send("\xFF\xFD\x2C" + Answer(1, rate) + Answer(2, "\x08") + Answer(3, "\x01") + Answer(4, "\x01")
             + Answer(12, "\x03"));
        return Rfc2217Line::Attach(std::exchange(m_pair[0], -1), where, 4800, m_error);
    }
    void Send(const std::string& raw) { (void)!write(m_pair[1], raw.data(), raw.size()); }
    std::string Received()
    {
        std::string got;
        char buffer[4096];
        for (ssize_t n; (n = recv(m_pair[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            got.append(buffer, size_t(n));
        return got;
    }
    static std::string ReadString(Rfc2217Line& line, size_t max = 64)
    {
        uint8_t buffer[64];
        const int n = line.Read(buffer, max, 2000ms);
        return n < 0 ? "<gone>" : std::string(reinterpret_cast<char*>(buffer), size_t(n));
    }

    int m_pair[2] = {-1, -1};
    OpenError m_error;
};

TEST_F(LineTest, OpensWith8N1AndNoModemControl)
{
    auto line = Attach();
    ASSERT_NE(line, nullptr) << m_error.text;
    EXPECT_EQ(line->Name(), "rfc2217://bench:4001");
    EXPECT_EQ(Received(), "\xFF\xFB\x00\xFF\xFD\x00\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x2C" "\xFF\xFA\x2C\x0A\x1E\xFF\xF0"
                          "\xFF\xFA\x2C\x01\x00\x00\x12\xC0\xFF\xF0" "\xFF\xFA\x2C\x02\x08\xFF\xF0"
                          "\xFF\xFA\x2C\x03\x01\xFF\xF0" "\xFF\xFA\x2C\x04\x01\xFF\xF0" "\xFF\xFA\x2C\x0C\x03\xFF\xF0"s);
}

TEST_F(LineTest, DataWithIacBothWays)
{
    auto line = Attach();
    ASSERT_NE(line, nullptr) << m_error.text;
    Received();
    const uint8_t out[] = {0x01, 0xFF, 0x02, 0xFF};
    EXPECT_EQ(line->Write(out, 4), 4);
    EXPECT_EQ(Received(), "\x01\xFF\xFF\x02\xFF\xFF");
    // An IAC whose pair comes in a later read.
    Send("a\xFF");
    EXPECT_EQ(ReadString(*line), "a");
    Send("\xFF" "b\xFF\xFA\x2C\x6A\x1E\xFF\xF0" "c");
    EXPECT_EQ(ReadString(*line), "\xFF" "bc");
    uint32_t flags = 0;
    EXPECT_TRUE(line->TakeLineErrors(flags));
    EXPECT_EQ(flags, CE_BREAK | CE_FRAME | CE_RXPARITY | CE_OVERRUN);
    EXPECT_TRUE(line->TakeLineErrors(flags));
    EXPECT_EQ(flags, 0u);
}

TEST_F(LineTest, PurgeDropsWhatCameBeforeItsAnswer)
{
    auto line = Attach();
    ASSERT_NE(line, nullptr) << m_error.text;
    Send("old");
    ASSERT_EQ(ReadString(*line, 1), "o");
    Send("late" + Answer(12, "\x03") + "fresh");
    line->Purge();
    EXPECT_EQ(ReadString(*line), "fresh");
}

TEST_F(LineTest, AnotherRateEndsTheLine)
{
    EXPECT_EQ(Attach("\x00\x00\xE1\x00"s), nullptr);
    EXPECT_EQ(m_error.kind, OpenFault::NotSerial);
    EXPECT_EQ(m_error.text, "bench:4001: the server answered SET-BAUDRATE 4800 baud with 57600 baud");

    Reconnect();
    auto line = Attach("\x00\x00\x12\xC0"s, {"::1", 4001});
    ASSERT_NE(line, nullptr) << m_error.text;
    EXPECT_EQ(line->Name(), "rfc2217://[::1]:4001");
    Received();
    Send(Answer(1, "\x00\x00\xE1\x00"s));
    EXPECT_FALSE(line->SetSpeed(115200));
    EXPECT_TRUE(line->Gone());
    const uint8_t sync = 0x55;
    EXPECT_EQ(line->Write(&sync, 1), -1);   // nothing more goes out at a rate nobody knows
    EXPECT_EQ(Received().find('\x55'), std::string::npos);
}

TEST_F(LineTest, ClosedConnectionIsAGoneLine)
{
    auto line = Attach();
    ASSERT_NE(line, nullptr) << m_error.text;
    Received();   // what is left unread makes a reset of the close
    Send("last");
    close(std::exchange(m_pair[1], -1));
    EXPECT_EQ(ReadString(*line), "last");
    EXPECT_EQ(ReadString(*line), "<gone>");
    EXPECT_TRUE(line->Gone());
    EXPECT_EQ(line->Failure(), "bench:4001: the server closed the connection");
}

TEST(NetworkPortNames, WhatOpensAndWhatIsRefused)
{
    const struct {
        std::string name;
        std::string url;   // empty: refused
        OpenFault open;
    } rows[] = {
        {"rfc2217://127.0.0.1:1", "rfc2217://127.0.0.1:1", OpenFault::Refused},
        {"RFC2217://[::1]:1", "rfc2217://[::1]:1", OpenFault::Refused},
        {"rfc2217://Bench-PC.lan:04001", "rfc2217://bench-pc.lan:4001", OpenFault::None},
        {"rfc2217://bench:65536", "", OpenFault::BadName},
        {"rfc2217://bench:0", "", OpenFault::BadName},
        {"rfc2217://bench", "", OpenFault::BadName},
        {"rfc2217://bench:4001/", "", OpenFault::BadName},
        {"rfc2217://user@bench:4001", "", OpenFault::BadName},
        {"rfc2217://::1:4001", "", OpenFault::BadName},
        {"rfc2217://[::g]:4001", "", OpenFault::BadName},
        {"rfc2217://[::1]4001", "", OpenFault::BadName},
        {"rfc2217://:4001", "", OpenFault::BadName},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ResolvePort(row.name), row.url.empty() ? row.name : row.url) << row.name;
        EXPECT_EQ(PortNameProblem(row.name).empty(), !row.url.empty()) << row.name;
        if (row.open == OpenFault::None)
            continue;   // a host name would ask the resolver
        OpenError error;
        EXPECT_EQ(OpenLine(row.name, 4800, error), nullptr) << row.name;
        EXPECT_EQ(error.kind, row.open) << row.name << ": " << error.text;
    }
    EXPECT_EQ(PortNameProblem("GPS1:"), "");
}

} // namespace
} // namespace platform
