#include "loader/operation.h"

#include "loader/serial/serial_link.h"
#include "loader/terminal/terminal.h"
#include "loader/upload/update_operation.h"
#include "platform/text.h"

namespace velmor {

Outcome RunUpload(const WorkerParams& params, Reporter& report, std::stop_token stop)
{
    UpdateRequest request;
    request.port = platform::Narrow(params.portName);
    request.receiver = params.receiver;
    request.askPfld = params.askPfld;
    std::string path;
    if (platform::NarrowExact(params.imagePath, path)) {
        request.image = ReadImage(path);
    } else {
        // With a character replaced, the path would name another file.
        request.image.path = platform::Narrow(params.imagePath);
        request.image.why = "the path has characters this system's encoding cannot write";
    }
    return RunUpdate(request, report, stop).outcome;
}

Outcome RunTerminal(TerminalSession& session, Reporter& report, std::stop_token stop)
{
    session.WaitForPrevious(kTerminalHandOverMs);
    Outcome opened;
    auto port = SerialOpen(platform::Narrow(session.PortName()), kTerminalOpenBaud, report, opened);
    if (!port) {
        session.MarkEnded();
        return opened;
    }
    TerminalLoop(std::move(port), session, report, stop);
    return {};
}

Outcome RunOperation(const WorkerParams& params, Reporter& report, std::stop_token stop)
{
    if (params.terminal)
        return params.session ? RunTerminal(*params.session, report, stop) : Outcome {};
    return RunUpload(params, report, stop);
}

} // namespace velmor
