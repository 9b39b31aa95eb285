// velmor-cli's exit status, one code per kind of failure. With several ports
// the worst one is returned: a larger code is worse.
#pragma once

#include "loader/log/outcome.h"

namespace velmor::cli {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitOutputFailed = 1,   // the results could not be written (a full disk, a closed pipe)
    kExitUsage = 2,          // bad command line
    kExitImageRefused = 3,   // the image failed its checks, or would rewrite the PFLD unasked
    kExitNoReceiver = 4,     // the port did not open, or no receiver answered
    kExitUploadFailed = 5,   // the upload failed, the receiver stopped answering, or out of time
    kExitVerifyMismatch = 6, // the receiver's flash differs from the image after the upload
    kExitInterrupted = 130,  // stopped by Ctrl-C, SIGTERM or SIGHUP
};

// The exit status for an engine outcome.
ExitCode ExitCodeFor(const Outcome& outcome);

} // namespace velmor::cli
