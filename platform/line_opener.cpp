// Port names to lines.
#include "platform/line_opener.h"

#include "platform/paths.h"
#include "platform/port_map.h"
#include "platform/rfc2217_line.h"
#include "platform/serial_port.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace platform {
namespace {

// "GPS1:" -> "gps1", as DevicePath names the file.
std::string FileName(const std::string& name)
{
    std::string file = name;
    if (!file.empty() && file.back() == ':')
        file.pop_back();
    std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return file;
}

std::string MapKey(const std::string& name)
{
    std::string key = FileName(name);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return key == "GPS1" || key == "GPS2" ? key : std::string();
}

} // namespace

PortEnvironment SystemPorts()
{
    PortEnvironment where;
    const char* dir = std::getenv(kDeviceDirVariable);
    if (dir && *dir)
        where.deviceDir = DeviceDirectory();
    where.mapFile = PortMapFile();
    return where;
}

PortRoute RoutePort(const std::string& name, const PortEnvironment& where)
{
    if (IsNetworkPortName(name)) {
        NetworkPort port;
        std::string why;
        return {ParseNetworkPort(name, port, why) ? port.Url() : name, PortVia::Given, {}};
    }
    if (name.find('/') != std::string::npos)
        return {name, PortVia::Given, {}};
    if (!where.deviceDir.empty())
        return {where.deviceDir + "/" + FileName(name), PortVia::DeviceFolder, {}};
    const std::string key = MapKey(name);
    if (!key.empty() && !where.mapFile.empty()) {
        const PortMap map = ReadPortMap(where.mapFile);
        if (!map.problem.empty())
            return {name, PortVia::Map, "the port map " + map.file + " is not used, " + map.problem};
        if (const auto entry = map.entries.find(key); entry != map.entries.end())
            return {entry->second, PortVia::Map, {}};
    }
    return {where.dev + "/" + FileName(name), PortVia::Default, {}};
}

std::string ResolvePort(const std::string& name)
{
    return RoutePort(name, SystemPorts()).device;
}

std::string PortNote(const std::string& name, const PortRoute& route, const PortEnvironment& where)
{
    const std::string key = MapKey(name);
    if (key.empty() || where.mapFile.empty())
        return {};
    const std::string lines = "velmor-cli ports shows the lines that map each adapter";
    if (route.via == PortVia::Map)
        return name + " is mapped to it in " + where.mapFile + " (" + lines + ")";
    if (route.via == PortVia::Default)
        return name + " stands for it while " + where.mapFile + " has no line " + key + "=DEVICE (" + lines + ")";
    return {};
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

std::unique_ptr<SerialLine> OpenLine(const std::string& name, uint32_t baud, OpenError& error,
                                     const PortEnvironment& where)
{
    error = {};
    const PortRoute route = RoutePort(name, where);
    if (!route.problem.empty()) {
        error = {OpenFault::BadName, name, route.problem + "; " + name + " opens nothing until it is mended"};
        return nullptr;
    }
    std::unique_ptr<SerialLine> line;
    if (IsNetworkPortName(route.device)) {
        NetworkPort port;
        std::string why;
        if (!ParseNetworkPort(route.device, port, why))
            error = {OpenFault::BadName, name, name + ": " + why};
        else
            line = Rfc2217Line::Open(port, baud, error);
    } else if (auto serial = SerialPort::Open(route.device, &error, where.sysfs)) {
        if (serial->Configure(baud)) {
            serial->Purge();
            line = std::move(serial);
        } else {
            error = {OpenFault::NotSerial, route.device,
                     route.device + ": not a serial line, or it refused 8N1 at " + std::to_string(baud)};
        }
    }
    if (!line) {
        if (const std::string note = PortNote(name, route, where); !note.empty())
            error.text += "; " + note;
    }
    return line;
}

} // namespace platform
