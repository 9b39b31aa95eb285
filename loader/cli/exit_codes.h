// velmor-cli's exit status, one code per kind of failure. With several ports
// the worst one is returned: a larger code is worse.
#pragma once

namespace velmor::cli {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitUsage = 2,          // bad command line
    kExitImageRefused = 3,   // the image failed its checks, or would rewrite the PFLD unasked
    kExitNoReceiver = 4,     // the port did not open, or no receiver answered
    kExitUploadFailed = 5,   // the upload failed or ran out of time
    kExitVerifyMismatch = 6, // the receiver's flash differs from the image after the upload
    kExitInterrupted = 130,  // stopped by Ctrl-C
};

} // namespace velmor::cli
