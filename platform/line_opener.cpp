// Port names to lines.
#include "platform/line_opener.h"

#include "platform/rfc2217_line.h"
#include "platform/serial_port.h"

namespace platform {

std::string ResolvePort(const std::string& name)
{
    NetworkPort where;
    std::string why;
    if (IsNetworkPortName(name))
        return ParseNetworkPort(name, where, why) ? where.Url() : name;
    return DevicePath(name);
}

std::string PortNameProblem(const std::string& name)
{
    if (name.empty())
        return "an empty port name";
    NetworkPort where;
    std::string why;
    if (IsNetworkPortName(name)) {
        if (ParseNetworkPort(name, where, why))
            return {};
        return name + ": " + why + " (a network port is rfc2217://HOST:PORT)";
    }
    if (name.find("://") != std::string::npos)
        return name + ": not a port this program can open (a network port is rfc2217://HOST:PORT)";
    return {};
}

std::unique_ptr<SerialLine> OpenLine(const std::string& name, uint32_t baud, OpenError& error)
{
    error = {};
    if (IsNetworkPortName(name)) {
        NetworkPort where;
        std::string why;
        if (!ParseNetworkPort(name, where, why)) {
            error = {OpenFault::BadName, name, name + ": " + why};
            return nullptr;
        }
        return Rfc2217Line::Open(where, baud, error);
    }
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
