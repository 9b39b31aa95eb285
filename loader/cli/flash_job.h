// One receiver's update from the command line: identify, check the image,
// upload, identify again and read the flash back.
#pragma once

#include "loader/cli/exit_codes.h"
#include "loader/cli/port_reporter.h"
#include "loader/serial/receiver_info.h"

#include <optional>
#include <stop_token>
#include <string>

namespace velmor::cli {

enum class VerifyMode { None, Spot, Full };

struct FlashOptions {
    std::wstring image;
    std::optional<bool> pfld;   // the answer to the PFLD question, if the user gave one
    VerifyMode verify = VerifyMode::Spot;
    bool force = false;         // upload even when the receiver holds this FW already
};

struct PortResult {
    std::string port;
    ExitCode code = kExitSuccess;
    std::string result;         // one line for the user
    std::optional<ReceiverInfo> before, after;
    uint64_t bytes = 0;         // image bytes sent
    double seconds = 0;
    int attempts = 0;
    bool skipped = false;
    uint64_t wordsCompared = 0;
    std::string firstDifference;
};

// The whole update of the receiver on `port`; ends early, as failed, when
// `stop` is requested.
PortResult FlashPort(const std::wstring& port, const FlashOptions& options, PortReporter& report,
                     std::stop_token stop);

} // namespace velmor::cli
