// The record exchange, wire byte by wire byte, against a scripted receiver.
#include "loader/upload/byte_codes.h"
#include "loader/upload/flash_programming.h"
#include "loader/upload/record_protocol.h"
#include "tests/support/device_folder.h"
#include "tests/support/log_recorder.h"
#include "tests/support/pty_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace velmor {
namespace {

using namespace std::chrono_literals;

class RecordExchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_port = SerialOpen(L"GPS1:", 115200);
        ASSERT_NE(m_port, kInvalidPort);
        const uint16_t data[3] = {0x01, 0x02, 0x03};
        m_record.Reset();
        m_record.Append(0x10000000, 3, data);
        m_record.Finalise();
        m_frame.assign(reinterpret_cast<const char*>(m_record.Frame()), m_record.WireLength());
    }
    void TearDown() override
    {
        if (m_receiver.joinable())
            m_receiver.join();
        SerialClose(m_port);
    }

    // The receiver's side, run while the loader sends.
    template <typename Script>
    void Receiver(Script script)
    {
        m_receiver = std::thread(script);
    }
    // Waits for the loader's SYNC_CODE and answers REC_WAIT_CODE, then takes the frame.
    void ExpectSyncAndFrame()
    {
        EXPECT_EQ(m_peer.Read(1, 3s), std::string(1, char(SYNC_CODE)));
        m_peer.Write(std::string(1, char(REC_WAIT_CODE)));
        EXPECT_EQ(m_peer.Read(m_frame.size(), 3s), m_frame);
    }
    void WaitForStatus(const std::wstring& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!m_log.HasStatusLine(text) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
    }

    test::DeviceFolder m_folder;
    test::PtyPeer m_peer {m_folder.Path(), "gps1"};
    test::LogRecorder m_log;
    PortHandle m_port = kInvalidPort;
    ReceiverWatch m_watch;
    UploadRecord m_record;
    std::string m_frame;
    std::thread m_receiver;
};

TEST_F(RecordExchange, AcceptedAfterStrayBytes)
{
    Receiver([this] {
        ExpectSyncAndFrame();
        m_peer.Write("\x01\x02\x91" "\x55");
    });
    EXPECT_TRUE(SendRecord(m_port, m_record, m_watch));
    m_receiver.join();
    EXPECT_EQ(m_log.StatusLines(), std::vector<std::wstring> {L"Address:0x10000000."});
    EXPECT_EQ(m_peer.ReadAll(), "");   // nothing after the frame
}

TEST_F(RecordExchange, ErrorCodesThenResynchronisation)
{
    const std::pair<uint8_t, std::wstring> codes[] = {
        {BAD_CSUM, L"ERROR: BAD_CSUM"},         {BAD_LENGTH, L"ERROR: BAD_LENGTH"},
        {BAD_COMMAND, L"ERROR: BAD_COMMAND"},   {RECORD_TIMEOUT, L"ERROR: RECORD_TIMEOUT"},
        {NO_REC_END, L"ERROR: NO_REC_END"},
    };
    for (const auto& [code, text] : codes) {
        m_log.Reset();
        Receiver([this, code = code] {
            ExpectSyncAndFrame();
            m_peer.Write(std::string(1, char(code)) + char(REC_WAIT_CODE));
        });
        EXPECT_FALSE(SendRecord(m_port, m_record, m_watch));
        m_receiver.join();
        EXPECT_EQ(m_log.StatusLines(), (std::vector<std::wstring> {text, L"Repeat Sending Record."}));
        EXPECT_EQ(m_peer.ReadAll(), "");   // the record is not sent again here
    }
}

TEST_F(RecordExchange, NoRecWaitThenResyncShowsEachStrayByte)
{
    Receiver([this] {
        EXPECT_EQ(m_peer.Read(1, 3s), std::string(1, char(SYNC_CODE)));
        m_peer.Write("x");   // not REC_WAIT_CODE; then silence
        WaitForStatus(L"Repeat Sending Record.");
        m_peer.Write("a");
        EXPECT_EQ(m_peer.Read(1, 3s), std::string(1, char(SYNC_CODE)));
        m_peer.Write("b");
        EXPECT_EQ(m_peer.Read(1, 3s), std::string(1, char(SYNC_CODE)));
        m_peer.Write(std::string(1, char(REC_WAIT_CODE)));
    });
    EXPECT_FALSE(SendRecord(m_port, m_record, m_watch));
    m_receiver.join();
    EXPECT_EQ(m_log.StatusLines(), (std::vector<std::wstring> {L"Repeat Sending Record.", L"Rcv:0 a", L"Rcv:1 b"}));
}

TEST_F(RecordExchange, TwoHundredRecWaitsAreTolerated)
{
    Receiver([this] {
        ExpectSyncAndFrame();
        m_peer.Write(std::string(200, char(REC_WAIT_CODE)) + char(SYNC_CODE));
    });
    EXPECT_TRUE(SendRecordOnce(m_port, m_record, m_watch));
    m_receiver.join();
    EXPECT_FALSE(m_log.HasStatusLine(L"REC_WAIT break"));
}

TEST_F(RecordExchange, RecWaitBreakResendsTheFrame)
{
    Receiver([this] {
        ExpectSyncAndFrame();
        m_peer.Write(std::string(201, char(REC_WAIT_CODE)));
        EXPECT_EQ(m_peer.Read(m_frame.size(), 5s), m_frame);   // sent again
        m_peer.Write(std::string(1, char(REC_WAIT_CODE)));      // the 202nd: again
        EXPECT_EQ(m_peer.Read(m_frame.size(), 5s), m_frame);
        m_peer.Write(std::string(1, char(SYNC_CODE)));
    });
    EXPECT_TRUE(SendRecordOnce(m_port, m_record, m_watch));
    m_receiver.join();
    EXPECT_EQ(m_log.StatusLines(),
              (std::vector<std::wstring> {L"REC_WAIT break", L"REC_WAIT break", L"Address:0x10000000."}));
}

TEST_F(RecordExchange, EndRecordShowsAddressZero)
{
    m_record.Reset();
    m_record.Finalise();
    m_record.MakeEndRecord();
    m_frame.assign(reinterpret_cast<const char*>(m_record.Frame()), m_record.WireLength());
    ASSERT_EQ(m_frame, std::string("\x5B\x00\x00\x00\x00\x5D", 6));
    Receiver([this] {
        ExpectSyncAndFrame();
        m_peer.Write(std::string(1, char(SYNC_CODE)));
    });
    EXPECT_TRUE(SendRecord(m_port, m_record, m_watch));
    m_receiver.join();
    EXPECT_EQ(m_log.StatusLines(), std::vector<std::wstring> {L"Address:0x00000000."});
}

TEST_F(RecordExchange, WaitForByteSkipsOthersAndGivesUpOnSilence)
{
    m_peer.Write("abc\x07zz");
    EXPECT_TRUE(WaitForByte(m_port, BOOT_MODE_CMD, m_watch));
    EXPECT_FALSE(WaitForByte(m_port, BOOT_MODE_CMD, m_watch));   // "zz", then silence
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
        m_peer.Write(c.bytes);
        EXPECT_EQ(WaitForErase(m_port, m_watch), c.result);
        EXPECT_EQ(m_log.StatusLines(), c.status);
    }
}

// A receiver that goes quiet, or only chatters, ends every wait within the
// silence limit; the step fails as if the receiver had answered with an error.
TEST_F(RecordExchange, SilenceAndChatterEndEveryWait)
{
    constexpr auto kLimit = 1500ms;
    const auto frameThen = [this](auto step) {
        return [this, step] {
            Receiver([this] { ExpectSyncAndFrame(); });
            return step();
        };
    };
    struct Case {
        const char* legend;
        bool chatter;   // foreign bytes instead of silence
        std::function<bool()> wait;
    } cases[] = {
        {"record reply, silent", false, frameThen([this] { return SendRecordOnce(m_port, m_record, m_watch); })},
        {"record reply, chatter", true, frameThen([this] { return SendRecordOnce(m_port, m_record, m_watch); })},
        {"resynchronisation, silent", false, frameThen([this] { return SendRecord(m_port, m_record, m_watch); })},
        {"byte wait, chatter", true, [this] { return WaitForByte(m_port, SYNC_CODE, m_watch); }},
        {"erase, silent", false, [this] { return WaitForErase(m_port, m_watch); }},
        {"version poll, silent", false, [this] { return UploadFlash(m_port, m_watch); }},
    };
    for (auto& c : cases) {
        SerialPurge(m_port);   // the last case's chatter
        m_watch = ReceiverWatch(UploadLimits {kLimit, kLimit});
        std::atomic<bool> done {false};
        std::thread chatter([&] {
            while (c.chatter && !done) {
                m_peer.Write("?");   // no protocol byte
                std::this_thread::sleep_for(50ms);
            }
        });
        const auto start = std::chrono::steady_clock::now();
        auto wait = std::async(std::launch::async, c.wait);
        if (wait.wait_for(kLimit * 4) != std::future_status::ready) {
            ADD_FAILURE() << c.legend << ": still waiting";
            SetStopRequested(true);
        }
        EXPECT_FALSE(wait.get()) << c.legend;
        SetStopRequested(false);
        done = true;
        chatter.join();
        if (m_receiver.joinable())
            m_receiver.join();
        EXPECT_GE(std::chrono::steady_clock::now() - start, kLimit - 100ms) << c.legend;
        m_peer.ReadAll();
    }
}

} // namespace
} // namespace velmor
