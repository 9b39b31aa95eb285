// `velmor-cli doctor`: what stands between the user and a receiver's port,
// and how to mend it.
#pragma once

#include "platform/line_opener.h"
#include "platform/port_map.h"
#include "platform/tty_sysfs.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace velmor::cli {

// What the doctor asks of the machine: the system's by default; a test gives
// a tree of its own and its own answers.
struct Machine {
    platform::PortEnvironment ports = platform::SystemPorts();
    std::string udevData = "/run/udev/data";   // udev's properties of each device, c<major>:<minor>
    std::function<bool()> modemManagerRunning;
    std::function<bool()> brlttyInstalled;
    std::function<bool(const std::string&)> mayOpen;   // this user may read and write the node

    Machine();
};

struct PortDiagnosis {
    std::string name;
    platform::PortRoute route;
    std::string node;   // the device node the name reaches; empty when there is none
    std::string kind;   // "usb serial", "serial", "pseudo-terminal", "network", "missing"
    platform::TtyFacts tty;
    std::string byId;
    bool modemManagerMayProbe = false;
    bool mayOpen = false;
    std::string access;                     // how this user may open it
    std::string mapLine, udevRule;          // as `ports` gives them
    std::vector<std::string> problems;      // each stands in the way, with what to do
    std::vector<std::string> warnings;      // each may slow or disturb, with what to do
};

struct Diagnosis {
    std::string mapInEffect;
    platform::PortMap map;
    bool deviceFolder = false;              // $VELMOR_DEVICE_DIR: the map is not read
    bool modemManagerRunning = false;
    bool brlttyInstalled = false;
    std::vector<std::string> problems;      // of no one port
    std::vector<PortDiagnosis> ports;

    bool Ok() const;                        // nothing stands in the way
};

// Each port in `names`; with none, every port `velmor-cli ports` lists.
Diagnosis Diagnose(std::vector<std::string> names, const Machine& machine);
std::string FormatDiagnosis(const Diagnosis& diagnosis);
nlohmann::json DiagnosisJson(const Diagnosis& diagnosis);

} // namespace velmor::cli
