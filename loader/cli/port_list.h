// The serial ports a receiver could be on: the GPS names and the system's USB
// serial adapters, with the lines that would map each adapter, for
// `velmor-cli ports` and `velmor-cli doctor`.
#pragma once

#include "platform/line_opener.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace velmor::cli {

struct PortEntry {
    std::string name;       // what to pass as --port: "GPS1:", "GPS2:" or a device path
    std::string path;       // the device node or link it opens, or a network port
    std::string stableName; // /dev/serial/by-id/... when known
    std::string vendorId, modelId, vendor, model, serial; // USB, when known
    bool present = false;   // the node exists now
    std::string via;        // a GPS name's source: "device folder", "port map" or "default"
    std::string mapLine;    // an adapter no GPS name reaches: the port map line for it
    std::string udevRule;   // ... and the udev rule that would name it /dev/gpsN
};

// The system's ttyUSB and ttyACM devices, from sysfs, as nodes in the device
// folder `where.dev`.
std::vector<PortEntry> SystemSerialDevices(const platform::PortEnvironment& where);

// The GPS names where they lead somewhere (a mapped name always), then
// `devices`, each device once: a device a GPS name reaches is folded into that
// name, and the links in `where.dev`/serial/by-id become the stable names of
// the devices they point at. Each adapter left gets the lines for the first
// GPS name that leads nowhere, else for GPS1.
std::vector<PortEntry> CollectPorts(std::vector<PortEntry> devices, const platform::PortEnvironment& where);

// CollectPorts over SystemSerialDevices().
std::vector<PortEntry> ListPorts(const platform::PortEnvironment& where);

// One line on what GPS1: and GPS2: stand for: the device folder, or the port
// map and its entries, or why the map is not used.
std::string MapInEffect(const platform::PortEnvironment& where);
// One line per port, the --port name first, then an adapter's map line and
// udev rule, indented.
std::string FormatPorts(const std::vector<PortEntry>& ports);
// An array of objects; unknown fields are null.
nlohmann::json PortsToJson(const std::vector<PortEntry>& ports);

} // namespace velmor::cli
