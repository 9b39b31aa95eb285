// One worker operation from opening the port to the outcome line.
#pragma once

#include "loader/upload/receiver_watch.h"

#include <memory>
#include <string>

namespace velmor {

enum WorkerExit : int {
    kExitOk = 0,
    kExitHandoffFailed = -1,
    kExitPortFailed = -2,
    kExitPrepareFailed = -3,
};

inline constexpr unsigned kWorkerOpenBaud = 57600;

class TerminalSession;

// An upload of the image to the receiver on the named port, or (terminal) the
// command terminal of `session`.
int RunOperation(const std::wstring& portName, const std::wstring& imagePath, bool terminal,
                 const std::shared_ptr<TerminalSession>& session = nullptr, const UploadLimits& limits = {});

} // namespace velmor
