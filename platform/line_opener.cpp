// Port names to lines.
#include "platform/line_opener.h"

#include "platform/serial_port.h"

namespace platform {

std::string ResolvePort(const std::string& name)
{
    return DevicePath(name);
}

std::string CheckPortName(const std::string& name)
{
    if (name.empty())
        return "an empty port name";
    if (name.find("://") != std::string::npos)
        return name + ": not a port this program can open";
    return {};
}

std::unique_ptr<SerialLine> OpenLine(const std::string& name, uint32_t baud, OpenError& error)
{
    error = {};
    const std::string device = ResolvePort(name);
    error.device = device;
    auto port = SerialPort::Open(device, &error);
    if (!port)
        return nullptr;
    if (!port->Configure(baud)) {
        error.kind = OpenFault::NotSerial;
        error.text = device + ": not a serial line, or it refused 8N1 at " + std::to_string(baud);
        return nullptr;
    }
    port->Purge();
    return port;
}

} // namespace platform
