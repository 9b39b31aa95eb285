#include "loader/operation.h"

#include "loader/log/log.h"
#include "loader/serial/serial_link.h"
#include "loader/terminal/terminal.h"
#include "loader/upload/handoff.h"
#include "loader/upload/image_preparation.h"

namespace velmor {

int RunOperation(const std::wstring& portName, const std::wstring& imagePath, bool terminal,
                 const std::shared_ptr<TerminalSession>& session, const UploadLimits& limits)
{
    if (terminal && session)
        session->WaitForPrevious(kTerminalHandOverMs);
    PortHandle port = SerialOpen(portName, kWorkerOpenBaud);
    if (port == kInvalidPort) {
        if (terminal && session)
            session->MarkEnded();
        EnableControls(true, false);
        return kExitPortFailed;
    }
    if (terminal) {
        if (session)
            TerminalLoop(port, *session);
        else
            SerialClose(port);
        return kExitOk;
    }
    if (!PrepareImage(imagePath)) {
        SerialClose(port);
        EnableControls(true, false);
        return kExitPrepareFailed;
    }
    const int result = RunHandoff(port, limits) ? kExitOk : kExitHandoffFailed;
    SerialClose(port);
    EnableControls(true, result == kExitOk);
    return result;
}

} // namespace velmor
