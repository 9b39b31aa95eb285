// The hand-off from command mode to the secondary loader, on a scripted line.
#include "loader/upload/byte_codes.h"
#include "loader/upload/flash_programming.h"
#include "loader/upload/handoff.h"
#include "tests/support/log_recorder.h"
#include "tests/support/scripted_line.h"

#include <gtest/gtest.h>

namespace velmor {
namespace {

using namespace std::chrono_literals;

const std::string kSync(1, char(SYNC_CODE));
const std::string kBoot(reinterpret_cast<const char*>(BOOT_REQUEST), sizeof BOOT_REQUEST);

// The boot request at the rate the receiver answered at, then SYNC_CODE at
// 19200; none when the resident loader already answers; with no rate known,
// at 4800 and again at 57600.
TEST(Handoff, BootRequestForEachReceiverState)
{
    const struct {
        const char* legend;
        uint32_t baud;
        bool pflMode;
        bool loaderOnly;
        std::string sent;
        std::vector<uint32_t> speeds;
    } rows[] = {
        {"resident loader answers", 19200, true, false, kSync, {19200}},
        {"a loader left running answers", 0, false, true, kSync, {19200}},
        {"command mode at 9600", 9600, false, false, kBoot + std::string(4, char(SYNC_CODE)), {9600, 19200}},
        {"no rate known", 0, false, false,
         kBoot + std::string(4, char(SYNC_CODE)) + kBoot + std::string(4, char(SYNC_CODE)), {4800, 19200, 57600, 19200}},
    };
    for (const auto& row : rows) {
        test::ScriptedLine line({{row.sent}});
        test::LogRecorder log;
        ReceiverInfo receiver;
        receiver.baud = row.baud;
        receiver.pflMode = row.pflMode;
        receiver.loaderOnly = row.loaderOnly;
        EXPECT_TRUE(RequestBootMode(Link {line, log, {}}, receiver)) << row.legend;
        EXPECT_TRUE(line.Done()) << row.legend;
        EXPECT_EQ(line.Speeds(), row.speeds) << row.legend;
        EXPECT_EQ(log.StatusLines(), std::vector<std::wstring> {L"Waiting for target answer at 19200..."});
    }
}

// A stray SYNC_CODE takes the loader to 115200 to poll the SFLD's version:
// with no answer it goes back to polling at 19200, and a receiver that then
// stays silent ends the upload instead of keeping it waiting for ever. Bytes
// that are no loader's answer (a receiver talking at another rate, or still
// sending its sentences), and an answer repeated without a step forward, are
// no sign of life either. Nothing is erased.
TEST(Handoff, SilenceOrChatterEndsTheUpload)
{
    const struct {
        const char* legend;
        std::vector<test::ScriptedLine::Step> script;
        std::vector<uint32_t> speeds;
        bool loaderAnswered;   // so the receiver is said to wait in its loader
    } rows[] = {
        {"stray SYNC_CODE, then silence", {{kSync}, {kSync, kSync}}, {19200, 115200, 19200}, true},
        {"chatter", {{kSync}, {"", "\xF0\x0F", 150ms, 600}}, {19200}, false},
        {"sentences at the command rate", {{kSync}, {"", "$GPGGA,,,,,,0,00,,,M,,M,,*66\r\n", 150ms, 600}}, {19200},
         false},
        {"the PFLD's answer again and again", {{kSync}, {"", "D", 150ms, 600}}, {19200}, true},
    };
    for (const auto& row : rows) {
        test::ScriptedLine line(row.script);
        line.AllowMore();
        test::LogRecorder log;
        UploadJob job;
        job.receiver.baud = 19200;
        job.receiver.pflMode = true;
        const Outcome outcome = RunHandoff(Link {line, log, {}}, job);
        EXPECT_EQ(outcome.fault, Fault::Silence) << row.legend;
        EXPECT_EQ(LeftInLoader(outcome), row.loaderAnswered) << row.legend;
        EXPECT_EQ(line.Speeds(), row.speeds) << row.legend;
        EXPECT_EQ(log.PaneLines().back(), L"Upload stopped: No answer from the receiver.") << row.legend;
        EXPECT_LE(line.Elapsed(), 45s) << row.legend;
        EXPECT_EQ(line.Sent().find(char(ERASE_CMD)), std::string::npos) << row.legend;
    }
}

// The SFLD's type identifier is logged as a signed byte, and only when the
// reply holds TYPE_ID_CMD; a version reply with a NUL before "$VER" is no reply.
TEST(Handoff, VersionAndTypeReplies)
{
    const struct {
        std::string version;   // answers to the version polls, in turn
        std::string type;
        std::wstring logged;   // "" for no TypeID line
    } rows[] = {
        {"$VER,S1\r\n", std::string("\x91\xFF", 2), L"TypeID:-1"},
        {"$VER,S1\r\n", std::string("\x91", 1), L"TypeID:0"},
        {"$VER,S1\r\n", "zz", L""},
        {std::string("x\0$VER", 6), std::string("\x91\x05", 2), L"TypeID:5"},   // polled again
    };
    for (const auto& row : rows) {
        test::ScriptedLine line({{"\x90", row.version}});
        if (row.version.find('\0') != std::string::npos)
            line.Add({{"\x90", "$VER,S2\r\n"}});
        line.Add({{"\x91", row.type}});
        line.AllowMore();   // the erase request, unanswered here
        test::LogRecorder log;
        UploadJob job;
        ReceiverWatch watch(UploadLimits {}, line);
        EXPECT_FALSE(UploadFlash(Link {line, log, {}}, job, watch));
        EXPECT_TRUE(line.Done()) << row.type;
        const auto lines = log.PaneLines();
        ASSERT_GE(lines.size(), 1u);
        EXPECT_EQ(lines[0], row.version.find('\0') != std::string::npos ? L"S2." : L"S1.");
        EXPECT_EQ(lines.size() > 1 && lines[1].rfind(L"TypeID", 0) == 0 ? lines[1] : L"", row.logged) << row.type;
    }
}

} // namespace
} // namespace velmor
