// Opening a receiver's line by the name the user gave it: "GPS1:" or "GPS2:",
// a device path, or a network serial port. Failures come back as a kind with
// the device the name stood for, so a front end chooses its own words.
#pragma once

#include "platform/serial_line.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class OpenFault {
    None,
    BadName,        // not a name any line can have, or the port map is broken
    NotFound,       // no such device or host
    NoPermission,
    Busy,           // another program holds it
    Refused,        // a network port refused the connection or did not answer in time
    NotSerial,      // it opened but is no serial line, or refused the settings
    Other,
};

struct OpenError {
    OpenFault kind = OpenFault::None;
    std::string device;   // what the name stood for: a device path, or HOST:PORT
    std::string text;     // why, for the user, naming the device
};

// Where port names are looked up: the system's places, or a test's own.
struct PortEnvironment {
    std::string deviceDir;        // $VELMOR_DEVICE_DIR: GPS names are its files and the map is not read; empty when unset
    std::string mapFile;          // the user's port map
    std::string dev = "/dev";     // the system's device nodes
    std::string sysfs = "/sys";   // what the kernel tells about them
};
PortEnvironment SystemPorts();

// Where a name's device came from.
enum class PortVia { Given, DeviceFolder, Map, Default };

struct PortRoute {
    std::string device;         // what the name stands for: a device path or rfc2217://HOST:PORT
    PortVia via = PortVia::Given;
    std::string problem;        // the name stands for nothing: the port map is broken
};

// "GPS1:" and "GPS2:" are the device folder's gps1 and gps2 when
// $VELMOR_DEVICE_DIR is set, else what the port map says, else /dev/gps1 and
// /dev/gps2. Other names are paths or network ports.
PortRoute RoutePort(const std::string& name, const PortEnvironment& where);
// What a port name stands for: the device path or the network port's URL.
std::string ResolvePort(const std::string& name);
// For a GPS name from the map or the default: where it came from and how to
// map it, to follow the reason a port did not open; empty for other names.
std::string PortNote(const std::string& name, const PortRoute& route, const PortEnvironment& where);
// Why a name cannot be a port, for a usage error; empty when it may be one.
std::string PortNameProblem(const std::string& name);

// Opens the named line for exclusive use, raw 8N1 at `baud`, input purged;
// nullptr with `error` filled when it cannot.
std::unique_ptr<SerialLine> OpenLine(const std::string& name, uint32_t baud, OpenError& error,
                                     const PortEnvironment& where = SystemPorts());

} // namespace platform
