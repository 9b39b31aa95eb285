#include "loader/operation.h"

#include "loader/log/log.h"
#include "loader/serial/serial_link.h"
#include "loader/upload/handoff.h"
#include "loader/upload/image_preparation.h"

namespace velmor {

int RunOperation(const std::wstring& portName, const std::wstring& imagePath)
{
    PortHandle port = SerialOpen(portName, kWorkerOpenBaud);
    if (port == kInvalidPort) {
        EnableControls(true, false);
        return kExitPortFailed;
    }
    if (!PrepareImage(imagePath)) {
        SerialClose(port);
        EnableControls(true, false);
        return kExitPrepareFailed;
    }
    const int result = RunHandoff(port) ? kExitOk : kExitHandoffFailed;
    SerialClose(port);
    EnableControls(true, result == kExitOk);
    return result;
}

} // namespace velmor
