// "Connect GPS" against the simulated board over a pseudo-terminal.
#include "loader/serial/receiver_query.h"
#include "tests/support/board_fixture.h"
#include "tests/support/log_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

namespace velmor {
namespace {

using receiver::BoardFault;
using receiver::BoardMode;
using receiver::BoardOptions;

std::wstring Line(const char* format, uint32_t value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return std::wstring(text, text + std::strlen(text));
}

class ConnectGpsTest : public ::testing::Test {
protected:
    // The report of a board whose flash holds the default sample image.
    std::vector<std::wstring> FullReport(uint32_t baud) const
    {
        const auto& img = m_image;
        return {L" GPS flash information",
                Line("Pfld len:0x%x", 0x2000),
                Line("Pfld crc:0x%x", test::BoardFixture::WordAt(img, 0x2000)),
                L"Pfld ver:1.7 (1.07)",
                Line("Main FW len:0x%x", 0x20000),
                Line("Main FW crc:0x%x", test::BoardFixture::WordAt(img, 0x24000)),
                L"Main FW ver:0.2 (V2.15)",
                Line("GPS connected at %d", baud)};
    }

    test::DeviceFolder m_folder;
    test::BoardFixture m_board {m_folder};
    test::LogRecorder m_log;
    ReceiverInfo m_info;
    std::vector<uint8_t> m_image = receiver::MakeSampleImage({});
};

TEST_F(ConnectGpsTest, PflModeWithAndWithoutFw)
{
    BoardOptions options;
    options.mode = BoardMode::Pfl;
    auto& board = m_board.Start(options, m_image);
    EXPECT_TRUE(ConnectGps("GPS1:", m_log, m_info).Ok());
    // The resident loader knows no identification query: no FW version.
    auto expected = FullReport(19200);
    expected[6] = L"Main FW ver:N/a";
    expected.insert(expected.begin(), L"PFL mode detected");
    EXPECT_EQ(m_log.PaneLines(), expected);
    EXPECT_TRUE(m_info.pflMode);
    const auto exchanges = board.Transcript().Exchanges();
    ASSERT_GE(exchanges.size(), 2u);
    EXPECT_EQ(exchanges[1].sentence, "$R10000020");

    // Without an FW section the detection still succeeds in PFL mode.
    std::vector<uint8_t> noFw = m_image;
    std::fill(noFw.begin() + 0x4000, noFw.end(), 0xFF);
    m_log.Reset();
    m_board.Start(options, noFw);
    EXPECT_TRUE(ConnectGps("GPS1:", m_log, m_info).Ok());
    const auto lines = m_log.PaneLines();
    EXPECT_EQ(lines[lines.size() - 2], L"Main FW N/a");
    EXPECT_EQ(lines.back(), L"GPS connected at 19200");
}

// The whole report, and what each of the board's reply faults leaves of it.
// The scan order, and so which rates are ever tried, is shown on a scripted
// line (ReceiverReply.SilentLineIsScannedInOrder).
TEST_F(ConnectGpsTest, FindsTheBoardAndReadsItsSections)
{
    auto noVersion = FullReport(4800);
    noVersion[6] = L"Main FW ver:N/a";
    const struct {
        std::optional<BoardFault> fault;
        bool connected;
        std::vector<std::wstring> report;
    } cases[] = {
        {std::nullopt, true, FullReport(4800)},
        // The rate answers, but no memory word reads back right.
        {BoardFault::WrongEcho, false, {L" GPS flash information", L"Pfld N/a", L"Main FW N/a", L"Cannot connect to GPS."}},
        // Without the identification answer only the FW version is missing.
        {BoardFault::NoRid, true, noVersion},
        {BoardFault::Junk, true, FullReport(4800)},
    };
    for (const auto& c : cases) {
        m_log.Reset();
        auto& board = m_board.Start({}, m_image);
        if (c.fault)
            board.SetFault(*c.fault, true);
        EXPECT_EQ(ConnectGps("GPS1:", m_log, m_info).Ok(), c.connected);
        EXPECT_EQ(m_info.connected, c.connected);
        EXPECT_EQ(m_log.PaneLines(), c.report);
        EXPECT_EQ(m_log.StatusLines(), (std::vector<std::wstring> {L"Waiting data from GPS...", L""}));
        EXPECT_EQ(m_info.baud, 4800u);
        EXPECT_FALSE(m_info.pflMode);
    }
}

} // namespace
} // namespace velmor
