#include "loader/operation.h"

#include "loader/serial/serial_link.h"
#include "loader/terminal/terminal.h"
#include "loader/upload/handoff.h"
#include "loader/upload/image_preparation.h"

namespace velmor {

int RunUpload(const std::wstring& portName, const std::wstring& imagePath, UploadJob& job, Reporter& report,
              std::stop_token stop)
{
    auto port = SerialOpen(portName, kWorkerOpenBaud, report);
    if (!port) {
        EnableControls(report, true, false);
        return kExitPortFailed;
    }
    if (!PrepareImage(imagePath, job, report)) {
        port.reset();
        EnableControls(report, true, false);
        return kExitPrepareFailed;
    }
    const int result = RunHandoff(Link {*port, report, stop}, job) ? kExitOk : kExitHandoffFailed;
    port.reset();
    EnableControls(report, true, result == kExitOk);
    return result;
}

int RunTerminal(TerminalSession& session, Reporter& report, std::stop_token stop)
{
    session.WaitForPrevious(kTerminalHandOverMs);
    auto port = SerialOpen(session.PortName(), kWorkerOpenBaud, report);
    if (!port) {
        session.MarkEnded();
        EnableControls(report, true, false);
        return kExitPortFailed;
    }
    TerminalLoop(std::move(port), session, report, stop);
    return kExitOk;
}

int RunOperation(const WorkerParams& params, Reporter& report, std::stop_token stop)
{
    if (params.terminal) {
        if (!params.session)
            return kExitOk;
        return RunTerminal(*params.session, report, stop);
    }
    if (!params.job)
        return kExitPrepareFailed;
    return RunUpload(params.portName, params.imagePath, *params.job, report, stop);
}

} // namespace velmor
