// The record exchange, wire byte by wire byte, on a scripted line.
#include "loader/upload/byte_codes.h"
#include "loader/upload/flash_programming.h"
#include "loader/upload/record_protocol.h"
#include "tests/support/log_recorder.h"
#include "tests/support/scripted_line.h"

#include <gtest/gtest.h>

#include <functional>

namespace velmor {
namespace {

using namespace std::chrono_literals;
using Step = test::ScriptedLine::Step;

const std::string kSync(1, char(SYNC_CODE));
const std::string kRecWait(1, char(REC_WAIT_CODE));

class RecordExchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        const uint16_t data[3] = {0x01, 0x02, 0x03};
        m_record.Reset();
        m_record.Append(0x10000000, 3, data);
        m_record.Finalise();
        m_frame.assign(reinterpret_cast<const char*>(m_record.Frame()), m_record.WireLength());
    }

    test::ScriptedLine m_line;
    test::LogRecorder m_log;
    const Link m_link {m_line, m_log, {}};
    ReceiverWatch m_watch {UploadLimits {}, m_line};
    UploadRecord m_record;
    std::string m_frame;
};

// The frame goes out once after SYNC_CODE is answered; stray bytes are passed
// over, and an error code fails the record, which is not sent again here.
TEST_F(RecordExchange, OneFrameAndItsReply)
{
    const auto error = [](uint8_t code) { return std::string(1, char(code)) + kRecWait; };
    const struct {
        std::string reply;
        bool accepted;
        std::vector<std::wstring> status;
    } rows[] = {
        {"\x01\x02\x91" "\x55", true, {L"Address:0x10000000."}},
        {error(BAD_CSUM), false, {L"ERROR: BAD_CSUM", L"Repeat Sending Record."}},
        {error(BAD_LENGTH), false, {L"ERROR: BAD_LENGTH", L"Repeat Sending Record."}},
        {error(BAD_COMMAND), false, {L"ERROR: BAD_COMMAND", L"Repeat Sending Record."}},
        {error(RECORD_TIMEOUT), false, {L"ERROR: RECORD_TIMEOUT", L"Repeat Sending Record."}},
        {error(NO_REC_END), false, {L"ERROR: NO_REC_END", L"Repeat Sending Record."}},
    };
    for (const auto& row : rows) {
        test::ScriptedLine line({{kSync, kRecWait}, {m_frame, row.reply}});
        test::LogRecorder log;
        ReceiverWatch watch(UploadLimits {}, line);
        EXPECT_EQ(SendRecord(Link {line, log, {}}, m_record, watch), row.accepted) << row.status[0];
        EXPECT_EQ(log.StatusLines(), row.status);
        EXPECT_TRUE(line.Done()) << row.status[0];
        EXPECT_EQ(line.Sent(), kSync + m_frame) << row.status[0];
        EXPECT_EQ(watch.LastFailure(), row.accepted ? L"" : row.status[0]);
    }
}

TEST_F(RecordExchange, NoRecWaitThenResyncShowsEachStrayByte)
{
    // "x" is no REC_WAIT_CODE; after a second of silence the resynchronisation
    // answers each stray byte with SYNC_CODE until REC_WAIT_CODE comes.
    m_line.Add({{kSync, "x"}, {"", "a", 1500ms}, {kSync, "b"}, {kSync, kRecWait}});
    EXPECT_FALSE(SendRecord(m_link, m_record, m_watch));
    EXPECT_EQ(m_log.StatusLines(), (std::vector<std::wstring> {L"Repeat Sending Record.", L"Rcv:0 a", L"Rcv:1 b"}));
    EXPECT_TRUE(m_line.Done());
}

TEST_F(RecordExchange, RecWaitFloodAndBreak)
{
    // Two hundred REC_WAIT codes are tolerated; from the 201st each resends the frame.
    m_line.Add({{kSync, kRecWait}, {m_frame, std::string(200, char(REC_WAIT_CODE)) + kSync}});
    EXPECT_TRUE(SendRecordOnce(m_link, m_record, m_watch));
    EXPECT_FALSE(m_log.HasStatusLine(L"REC_WAIT break"));

    m_log.Reset();
    m_line.Add({{kSync, kRecWait}, {m_frame, std::string(201, char(REC_WAIT_CODE))}, {m_frame, kRecWait},
                {m_frame, kSync}});
    EXPECT_TRUE(SendRecordOnce(m_link, m_record, m_watch));
    EXPECT_EQ(m_log.StatusLines(),
              (std::vector<std::wstring> {L"REC_WAIT break", L"REC_WAIT break", L"Address:0x10000000."}));
    EXPECT_TRUE(m_line.Done());
}

TEST_F(RecordExchange, WaitForByteSkipsOthersAndGivesUpOnSilence)
{
    m_line.Add({{"", "abc\x07zz"}});
    EXPECT_TRUE(WaitForByte(m_link, BOOT_MODE_CMD, m_watch));
    EXPECT_FALSE(WaitForByte(m_link, BOOT_MODE_CMD, m_watch));   // "zz", then silence
}

TEST_F(RecordExchange, EraseProgress)
{
    struct Case {
        std::string bytes;
        bool result;
        std::vector<std::wstring> status;
    } cases[] = {
        {"\x8F\x8F\x8F\x55", true,
         {L"1 sectors erased.", L"2 sectors erased.", L"3 sectors erased.", L"FLASH erasing complete."}},
        {"\x8F\x84", false, {L"1 sectors erased.", L"Flash erase failure."}},
        {"\x86", false, {L"Unknown command 0x86.", L"FLASH erase failure."}},
    };
    for (const auto& c : cases) {
        m_log.Reset();
        m_line.Add({{"", c.bytes}});
        EXPECT_EQ(WaitForErase(m_link, m_watch), c.result);
        EXPECT_EQ(m_log.StatusLines(), c.status);
    }
}

// A receiver that goes quiet, or only chatters, ends every wait after 30 s
// without what the step waits for; the step fails as if the receiver had
// answered with an error.
TEST_F(RecordExchange, SilenceAndChatterEndEveryWait)
{
    const Step chatter {"", "?", 50ms, 2000};   // no protocol byte, for 100 s
    UploadJob job;
    struct Case {
        const char* legend;
        std::vector<Step> script;
        std::function<bool(const Link&, ReceiverWatch&)> wait;
        std::chrono::milliseconds within;
    } cases[] = {
        {"record reply, silent", {{kSync, kRecWait}, {m_frame}},
         [this](const Link& l, ReceiverWatch& w) { return SendRecordOnce(l, m_record, w); }, 31s},
        {"record reply, chatter", {{kSync, kRecWait}, {m_frame}, chatter},
         [this](const Link& l, ReceiverWatch& w) { return SendRecordOnce(l, m_record, w); }, 31s},
        {"resynchronisation after silence", {{kSync, kRecWait}, {m_frame}},
         [this](const Link& l, ReceiverWatch& w) { return SendRecord(l, m_record, w); }, 32s},
        {"byte wait, chatter", {chatter},
         [](const Link& l, ReceiverWatch& w) { return WaitForByte(l, SYNC_CODE, w); }, 31s},
        {"erase, silent", {}, [](const Link& l, ReceiverWatch& w) { return WaitForErase(l, w); }, 31s},
        // A stray SYNC_CODE brought the hand-off here: no SFLD answers the version poll.
        {"version poll, silent", {},
         [&job](const Link& l, ReceiverWatch& w) { return UploadFlash(l, job, w); }, 11s},
    };
    for (auto& c : cases) {
        test::ScriptedLine line(c.script);
        line.AllowMore();   // the version polls
        test::LogRecorder log;
        ReceiverWatch watch(UploadLimits {}, line);
        EXPECT_FALSE(c.wait(Link {line, log, {}}, watch)) << c.legend;
        EXPECT_GE(line.Elapsed(), c.within - 2s) << c.legend;
        EXPECT_LE(line.Elapsed(), c.within) << c.legend;
    }
}

} // namespace
} // namespace velmor
