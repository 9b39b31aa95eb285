// The serial ports a receiver could be on: the device folder's GPS names and
// the system's USB serial devices, for `velmor-cli ports`.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace velmor::cli {

struct PortEntry {
    std::string name;       // what to pass as --port: "GPS1:", "GPS2:" or a device path
    std::string path;       // the device node or link it opens
    std::string stableName; // /dev/serial/by-id/... when known
    std::string vendorId, modelId, vendor, model, serial; // USB, when known
    bool present = false;   // the node exists now
};

// The system's ttyUSB and ttyACM devices from libudev, by device path; empty
// where there is no udev (a container without /sys).
std::vector<PortEntry> SystemSerialDevices();

// The device folder's gps1/gps2 where present, then `devices`, each device
// once: a device a GPS name links to is folded into that name, and the links
// in `byIdFolder` become the stable names of the devices they point at.
std::vector<PortEntry> CollectPorts(std::vector<PortEntry> devices, const std::string& byIdFolder);

// CollectPorts over SystemSerialDevices() and /dev/serial/by-id.
std::vector<PortEntry> ListPorts();

// One line per port, the --port name first, for a terminal or a script.
std::string FormatPorts(const std::vector<PortEntry>& ports);
// An array of objects; unknown fields are null.
nlohmann::json PortsToJson(const std::vector<PortEntry>& ports);

} // namespace velmor::cli
