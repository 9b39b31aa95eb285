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
    BadName,        // not a name any line can have
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

// What a port name stands for: the device path or the network port's URL.
std::string ResolvePort(const std::string& name);
// Why a name cannot be a port, for a usage error; empty when it may be one.
std::string PortNameProblem(const std::string& name);

// Opens the named line for exclusive use, raw 8N1 at `baud`, input purged;
// nullptr with `error` filled when it cannot.
std::unique_ptr<SerialLine> OpenLine(const std::string& name, uint32_t baud, OpenError& error);

} // namespace platform
