// One worker operation of the dialog from opening the port to its outcome: an
// upload of an image (the update operation, with the dialog's receiver), or
// the command terminal.
#pragma once

#include "loader/log/log.h"
#include "loader/serial/receiver_info.h"
#include "loader/upload/upload_job.h"

#include <memory>
#include <stop_token>
#include <string>

namespace velmor {

class TerminalSession;

// What the dialog hands a worker, copied when the operation starts.
struct WorkerParams {
    std::wstring portName;
    std::wstring imagePath;
    int terminal = 0;
    std::shared_ptr<TerminalSession> session;   // the terminal run this worker serves
    ReceiverInfo receiver;                      // the upload's receiver, as the last "Connect GPS" found it
    PfldPolicy askPfld;                         // the upload's answer to the PFLD question
};

// The upload of the image to the receiver on the named port. The image is read
// once, at the start; a path the system's encoding cannot carry whole is refused.
Outcome RunUpload(const WorkerParams& params, Reporter& report, std::stop_token stop = {});
// The command terminal of `session`, on the port the session names.
Outcome RunTerminal(TerminalSession& session, Reporter& report, std::stop_token stop = {});
Outcome RunOperation(const WorkerParams& params, Reporter& report, std::stop_token stop = {});

} // namespace velmor
