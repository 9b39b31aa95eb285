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

TEST_F(RecordExchange, AcceptedAfterStrayBytes)
{
    m_line.Add({{kSync, kRecWait}, {m_frame, "\x01\x02\x91" "\x55"}});
    EXPECT_TRUE(SendRecord(m_link, m_record, m_watch));
    EXPECT_EQ(m_log.StatusLines(), std::vector<std::wstring> {L"Address:0x10000000."});
    EXPECT_TRUE(m_line.Done());
    EXPECT_EQ(m_line.Sent(), kSync + m_frame);   // nothing after the frame
}

TEST_F(RecordExchange, ErrorCodesThenResynchronisation)
{
    const std::pair<uint8_t, std::wstring> codes[] = {
        {BAD_CSUM, L"ERROR: BAD_CSUM"},         {BAD_LENGTH, L"ERROR: BAD_LENGTH"},
        {BAD_COMMAND, L"ERROR: BAD_COMMAND"},   {RECORD_TIMEOUT, L"ERROR: RECORD_TIMEOUT"},
        {NO_REC_END, L"ERROR: NO_REC_END"},
    };
    for (const auto& [code, text] : codes) {
        test::ScriptedLine line({{kSync, kRecWait}, {m_frame, std::string(1, char(code)) + kRecWait}});
        test::LogRecorder log;
        ReceiverWatch watch(UploadLimits {}, line);
        EXPECT_FALSE(SendRecord(Link {line, log, {}}, m_record, watch));
        EXPECT_EQ(log.StatusLines(), (std::vector<std::wstring> {text, L"Repeat Sending Record."}));
        EXPECT_EQ(line.Sent(), kSync + m_frame);   // the record is not sent again here
        EXPECT_EQ(watch.LastFailure(), text);
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

TEST_F(RecordExchange, EndRecordShowsAddressZero)
{
    m_record.Reset();
    m_record.Finalise();
    m_record.MakeEndRecord();
    const std::string frame(reinterpret_cast<const char*>(m_record.Frame()), m_record.WireLength());
    ASSERT_EQ(frame, std::string("\x5B\x00\x00\x00\x00\x5D", 6));
    m_line.Add({{kSync, kRecWait}, {frame, kSync}});
    EXPECT_TRUE(SendRecord(m_link, m_record, m_watch));
    EXPECT_EQ(m_log.StatusLines(), std::vector<std::wstring> {L"Address:0x00000000."});
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
