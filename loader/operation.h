// One worker operation from opening the port to the outcome line: an upload
// of an image, or the command terminal.
#pragma once

#include "loader/log/log.h"
#include "loader/upload/upload_job.h"

#include <memory>
#include <stop_token>
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

// What the dialog hands a worker, copied when the operation starts.
struct WorkerParams {
    std::wstring portName;
    std::wstring imagePath;
    int terminal = 0;
    std::shared_ptr<TerminalSession> session;   // the terminal run this worker serves
    std::shared_ptr<UploadJob> job;             // the upload's job, with the receiver last found
};

// The upload of the image to the receiver on the named port: prepare, hand
// off, program; the outcome line at the end.
int RunUpload(const std::wstring& portName, const std::wstring& imagePath, UploadJob& job, Reporter& report,
              std::stop_token stop = {});
// The command terminal of `session`, on the port the session names.
int RunTerminal(TerminalSession& session, Reporter& report, std::stop_token stop = {});
int RunOperation(const WorkerParams& params, Reporter& report, std::stop_token stop = {});

} // namespace velmor
