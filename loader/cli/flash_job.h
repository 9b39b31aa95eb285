// One receiver's update from the command line: the update operation with the
// command line's answers, and its result in the command line's words.
#pragma once

#include "loader/cli/exit_codes.h"
#include "loader/cli/port_reporter.h"
#include "loader/upload/update_operation.h"

#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace velmor::cli {

struct FlashOptions {
    ImageFile image;            // read once, the same bytes for every port
    std::optional<bool> pfld;   // the answer to the PFLD question, if the user gave one
    VerifyMode verify = VerifyMode::Spot;
    bool force = false;         // upload even when the receiver holds this FW already
    bool recover = false;       // hand off to a receiver that does not answer
    SerialLine::Clock::time_point deadline = SerialLine::Clock::time_point::max();
};

struct PortResult {
    std::string port;
    ExitCode code = kExitSuccess;
    std::string message;        // one line for the user
    UpdateResult update;
    double seconds = 0;
};

// The whole update of the receiver on `port`; ends early when `stop` is requested.
PortResult FlashPort(const std::string& port, const FlashOptions& options, PortReporter& report,
                     std::stop_token stop);
// The result's one line: what happened, where, and the flash's state.
std::string ResultText(const UpdateResult& update, const std::string& port);

// What `flash` and `watch` do around the jobs.
// The image's checks, once before any port is opened, so a refused image
// never wakes a receiver; a refusal is told on standard error.
Outcome CheckImageOnce(const ImageFile& image);
// The port's reporter with its log in `logDir` (made when missing), which
// starts with the image's digest; a log that cannot be had is told.
std::unique_ptr<PortReporter> OpenPortReporter(const std::string& port, const std::string& logDir,
                                               const ImageFile& image);
// `seconds` from now; 0: no deadline of the job's own.
SerialLine::Clock::time_point DeadlineAfter(double seconds);
// A job that was stopped or ran out of time says so on standard error, and so
// does every failure whose line was `clipped` to a terminal's width: its
// flash state and what to do next must be read whole.
void TellCutShort(const PortResult& result, bool clipped);

} // namespace velmor::cli
