// What velmor-cli makes of the engine's outcomes: the exit status and the
// JSON's kind for every fault, from values, never from text; live lines that
// fit the terminal; and the stop signals.
#include "loader/cli/cli_json.h"
#include "loader/cli/exit_codes.h"
#include "loader/cli/flash_job.h"
#include "loader/cli/progress_display.h"
#include "loader/cli/signal_stop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <unistd.h>

namespace velmor::cli {
namespace {

TEST(Outcomes, EachFaultHasItsStatusAndKind)
{
    const struct {
        Fault fault;
        int status;
        const char* kind;
    } rows[] = {
        {Fault::None, 0, "ok"},
        {Fault::PortNotFound, 4, "port_not_found"},
        {Fault::PortBusy, 4, "port_busy"},
        {Fault::PortNoPermission, 4, "port_no_permission"},
        {Fault::PortUnusable, 4, "port_unusable"},
        {Fault::RateNotAccepted, 4, "rate_not_accepted"},
        {Fault::NoReceiver, 4, "no_receiver"},
        {Fault::ImageRefused, 3, "image_refused"},
        {Fault::PfldNeedsAnswer, 3, "pfld_needs_answer"},
        {Fault::PfldDeclined, 3, "pfld_declined"},
        {Fault::Silence, 5, "no_answer"},
        {Fault::ReceiverError, 5, "receiver_error"},
        {Fault::TooManyAttempts, 5, "too_many_attempts"},
        {Fault::OutOfTime, 5, "out_of_time"},
        {Fault::LineGone, 5, "port_gone"},
        {Fault::VerifyMismatch, 6, "verify_mismatch"},
        {Fault::Stopped, 130, "interrupted"},
    };
    for (const auto& row : rows) {
        PortResult result;
        result.port = "GPS1:";
        result.update.outcome = Outcome::Failed(row.fault, Phase::Program);
        result.code = ExitCodeFor(result.update.outcome);
        result.message = ResultText(result.update, result.port);
        const auto json = PortResultJson(result, ImageFile {});
        EXPECT_EQ(json["exit_code"], row.status) << row.kind;
        EXPECT_EQ(json["result"], row.kind);
        EXPECT_FALSE(json["message"].get<std::string>().empty()) << row.kind;
    }
}

TEST(LiveLines, ClippedToTheTerminalWidth)
{
    const struct {
        std::string line;
        size_t columns;
        std::string shown;
    } rows[] = {
        {"GPS1: program", 80, "GPS1: program"},
        {"GPS1: program", 6, "GPS1:"},   // one column kept free: a full line would wrap
        {"\xc3\xa9t\xc3\xa9 abc", 4, "\xc3\xa9t\xc3\xa9"},   // never half a character
    };
    for (const auto& row : rows)
        EXPECT_EQ(ClipToColumns(row.line, row.columns), row.shown) << row.line;
}

// --timeout: none at 0, and none either where the clock cannot count so far.
TEST(Deadlines, FromTheTimeoutOption)
{
    using namespace std::chrono_literals;
    const auto now = SerialLine::Clock::now();
    EXPECT_EQ(DeadlineAfter(0), SerialLine::Clock::time_point::max());
    EXPECT_EQ(DeadlineAfter(1e300), SerialLine::Clock::time_point::max());
    EXPECT_GT(DeadlineAfter(1e10), now + 24h * 365 * 200);
    const auto soon = DeadlineAfter(0.5);
    EXPECT_GE(soon, now + 500ms);
    EXPECT_LT(soon, now + 600ms);
}

// A second Ctrl-C that comes as the jobs end is still answered with its line,
// not lost with the thread that would have taken it.
TEST(Signals, ASecondStopAsTheJobsEndIsAnswered)
{
    using namespace std::chrono_literals;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const int savedErr = dup(STDERR_FILENO);
    dup2(ends[1], STDERR_FILENO);
    bool stopped = false;
    {
        SignalStop signals;
        signals.Start();
        kill(getpid(), SIGHUP);
        signals.WaitFor(5s);
        stopped = signals.Token().stop_requested();
        kill(getpid(), SIGINT);
    }
    dup2(savedErr, STDERR_FILENO);
    close(savedErr);
    close(ends[1]);
    std::string said;
    char buffer[256];
    for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, size_t(got));
    close(ends[0]);
    EXPECT_TRUE(stopped);
    EXPECT_NE(said.find("velmor-cli: stopping"), std::string::npos) << said;
}

} // namespace
} // namespace velmor::cli
