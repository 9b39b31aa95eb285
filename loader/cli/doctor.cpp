// The doctor's checks, from sysfs, udev's database, the device nodes and the
// port map; it opens no port.
#include "loader/cli/doctor.h"

#include "loader/cli/port_list.h"
#include "platform/rfc2217_line.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kVia[] = {"given", "device folder", "port map", "default"};   // by PortVia

bool ProcessRuns(const std::string& command)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == command)
            return true;
    }
    return false;
}

bool InGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    std::vector<gid_t> groups(size_t(std::max(0, getgroups(0, nullptr))));
    groups.resize(size_t(std::max(0, getgroups(int(groups.size()), groups.data()))));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// udev's rules (velmor's for gps1 and gps2 among them) mark the ports
// ModemManager is to leave alone.
bool MarkedForModemManager(const std::string& udevData, const std::string& number)
{
    std::ifstream properties(udevData + "/c" + number);
    std::string line;
    while (std::getline(properties, line))
        if (line == "E:ID_MM_DEVICE_IGNORE=1")
            return true;
    return false;
}

void CheckAccess(PortDiagnosis& port, const Machine& machine)
{
    struct stat info {};
    stat(port.node.c_str(), &info);
    const group* owner = getgrgid(info.st_gid);
    const std::string group = owner ? owner->gr_name : std::to_string(info.st_gid);
    port.mayOpen = machine.mayOpen(port.node);
    if (!port.mayOpen) {
        port.problems.push_back(
            port.node + ": this user may not open it; "
            + (info.st_gid != 0 ? "it is open to group '" + group + "': sudo adduser $USER " + group
                                      + ", then log in again"
                                : "name it gps1 with the udev rule, which opens it to the user at the seat"));
        return;
    }
    constexpr mode_t kReadWriteOther = S_IROTH | S_IWOTH, kReadWriteGroup = S_IRGRP | S_IWGRP;
    if (geteuid() == 0)
        port.access = "as root";
    else if (info.st_uid == geteuid())
        port.access = "as its owner";
    else if ((info.st_mode & kReadWriteOther) == kReadWriteOther)
        port.access = "as anyone";
    else if ((info.st_mode & kReadWriteGroup) == kReadWriteGroup && InGroup(info.st_gid))
        port.access = "through group '" + group + "'";
    else
        port.access = "through an ACL (udev gives one to the user at the seat)";
}

PortDiagnosis DiagnosePort(const std::string& name, const Machine& machine, bool modemManager, bool brltty,
                           const std::vector<PortEntry>& listed)
{
    const platform::PortEnvironment& where = machine.ports;
    PortDiagnosis port;
    port.name = name;
    port.route = platform::RoutePort(name, where);
    if (!port.route.problem.empty())
        return port;   // the map's problem is the whole diagnosis's
    if (platform::IsNetworkPortName(port.route.device)) {
        port.kind = "network";
        port.mayOpen = true;
        return port;
    }
    std::error_code error;
    port.node = fs::canonical(port.route.device, error).string();
    if (error) {
        port.node.clear();
        port.kind = "missing";
        const std::string note = platform::PortNote(name, port.route, where);
        port.problems.push_back(port.route.device + ": no such device" + (note.empty() ? "" : "; " + note));
        return port;
    }
    for (const PortEntry& entry : listed) {
        if (fs::canonical(entry.path, error).string() != port.node)
            continue;
        port.byId = entry.stableName;
        port.mapLine = entry.mapLine;
        port.udevRule = entry.udevRule;
    }
    port.tty = platform::TtyFactsOf(port.node, where.sysfs);
    const bool usb = !port.tty.vendorId.empty();
    port.kind = platform::IsPseudoTerminal(port.node) ? "pseudo-terminal" : usb ? "usb serial" : "serial";
    CheckAccess(port, machine);

    port.modemManagerMayProbe = modemManager && usb && !MarkedForModemManager(machine.udevData, port.tty.number);
    if (port.modemManagerMayProbe)
        port.problems.push_back("ModemManager runs and may probe " + port.node
                                + " with modem commands: name it gps1 with the udev rule (velmor's rules keep "
                                  "ModemManager off gps1 and gps2), or: sudo systemctl disable --now ModemManager");
    if (port.tty.driver == platform::kFtdiDriver && port.tty.latencyMs > 1)
        port.warnings.push_back("latency timer " + std::to_string(port.tty.latencyMs)
                                + " ms: velmor asks for 1 ms on open; where its log says it could not: echo 1 | "
                                  "sudo tee " + port.tty.latencyFile);
    if (brltty && usb)
        port.warnings.push_back("brltty is installed and takes some USB serial adapters for braille displays: if "
                                + port.node + " vanishes when plugged in, sudo apt remove brltty");
    return port;
}

std::string Listed(const std::vector<std::string>& items, const std::string& prefix)
{
    std::string text;
    for (const std::string& item : items)
        text += prefix + item + "\n";
    return text;
}

} // namespace

Machine::Machine()
    : modemManagerRunning([] { return ProcessRuns("ModemManager"); }),
      brlttyInstalled([] {
          std::error_code error;
          return fs::exists("/usr/bin/brltty", error) || fs::exists("/bin/brltty", error);
      }),
      mayOpen([](const std::string& node) { return faccessat(AT_FDCWD, node.c_str(), R_OK | W_OK, AT_EACCESS) == 0; })
{
}

bool Diagnosis::Ok() const
{
    if (!problems.empty())
        return false;
    for (const PortDiagnosis& port : ports)
        if (!port.problems.empty())
            return false;
    return true;
}

Diagnosis Diagnose(std::vector<std::string> names, const Machine& machine)
{
    const platform::PortEnvironment& where = machine.ports;
    Diagnosis diagnosis;
    diagnosis.mapInEffect = MapInEffect(where);
    diagnosis.deviceFolder = !where.deviceDir.empty();
    if (!diagnosis.deviceFolder && !where.mapFile.empty()) {
        diagnosis.map = platform::ReadPortMap(where.mapFile);
        if (!diagnosis.map.problem.empty())
            diagnosis.problems.push_back("the port map " + where.mapFile + " is not used, " + diagnosis.map.problem
                                         + ": mend it or remove it");
    }
    diagnosis.modemManagerRunning = machine.modemManagerRunning();
    diagnosis.brlttyInstalled = machine.brlttyInstalled();

    const std::vector<PortEntry> listed = ListPorts(where);
    if (names.empty()) {
        for (const PortEntry& entry : listed)
            names.push_back(entry.name);
        if (names.empty())
            diagnosis.problems.push_back("no serial port: plug the adapter in, or map GPS1 to a network port");
    }
    for (const std::string& name : names)
        diagnosis.ports.push_back(
            DiagnosePort(name, machine, diagnosis.modemManagerRunning, diagnosis.brlttyInstalled, listed));
    return diagnosis;
}

std::string FormatDiagnosis(const Diagnosis& diagnosis)
{
    std::ostringstream out;
    out << diagnosis.mapInEffect << "\n"
        << "ModemManager: " << (diagnosis.modemManagerRunning ? "running" : "not running") << "\n"
        << "brltty: " << (diagnosis.brlttyInstalled ? "installed" : "not installed") << "\n"
        << Listed(diagnosis.problems, "problem: ");
    size_t problems = diagnosis.problems.size();
    for (const PortDiagnosis& port : diagnosis.ports) {
        out << "\n" << port.name;
        if (port.route.device != port.name)
            out << " -> " << port.route.device;
        if (port.route.via != platform::PortVia::Given)
            out << " (" << kVia[int(port.route.via)] << ")";
        out << "\n";
        const platform::TtyFacts& tty = port.tty;
        if (!port.node.empty()) {
            out << "  device: " << port.node << ", " << port.kind << (tty.driver.empty() ? "" : ", " + tty.driver);
            if (!tty.vendorId.empty())
                out << ", USB " << tty.vendorId << ":" << tty.modelId << " " << tty.vendor << " " << tty.model;
            out << (tty.serial.empty() ? "" : ", serial " + tty.serial) << "\n";
            out << (port.byId.empty() ? "" : "  by-id: " + port.byId + "\n");
            out << (tty.latencyMs < 0 ? "" : "  latency timer: " + std::to_string(tty.latencyMs) + " ms\n");
            out << (port.mayOpen ? "  may open it: " + port.access + "\n" : "");
        } else if (!port.kind.empty()) {
            out << "  " << port.kind << "\n";
        }
        out << (port.mapLine.empty() ? "" : "  port map line: " + port.mapLine + "\n")
            << (port.udevRule.empty() ? "" : "  udev rule:     " + port.udevRule + "\n")
            << Listed(port.problems, "  problem: ") << Listed(port.warnings, "  warning: ");
        problems += port.problems.size();
    }
    out << "\n"
        << (problems == 0 ? std::string("Nothing stands in the way.")
                          : std::to_string(problems) + (problems == 1 ? " problem stands" : " problems stand")
                                + " in the way.")
        << "\n";
    return out.str();
}

nlohmann::json DiagnosisJson(const Diagnosis& diagnosis)
{
    using nlohmann::json;
    auto orNull = [](const std::string& text) { return text.empty() ? json() : json(text); };
    json ports = json::array();
    for (const PortDiagnosis& port : diagnosis.ports) {
        const platform::TtyFacts& tty = port.tty;
        ports.push_back({{"name", port.name},
                         {"device", port.route.device},
                         {"via", kVia[int(port.route.via)]},
                         {"node", orNull(port.node)},
                         {"kind", orNull(port.kind)},
                         {"driver", orNull(tty.driver)},
                         {"by_id", orNull(port.byId)},
                         {"vendor_id", orNull(tty.vendorId)},
                         {"model_id", orNull(tty.modelId)},
                         {"usb_serial", orNull(tty.serial)},
                         {"latency_timer_ms", tty.latencyMs < 0 ? json() : json(tty.latencyMs)},
                         {"modem_manager_may_probe", port.modemManagerMayProbe},
                         {"may_open", port.mayOpen},
                         {"access", orNull(port.access)},
                         {"map_line", orNull(port.mapLine)},
                         {"udev_rule", orNull(port.udevRule)},
                         {"problems", port.problems},
                         {"warnings", port.warnings}});
    }
    return {{"ok", diagnosis.Ok()},
            {"map",
             {{"file", orNull(diagnosis.map.file)},
              {"read", !diagnosis.map.file.empty()},
              {"found", diagnosis.map.found},
              {"problem", orNull(diagnosis.map.problem)},
              {"entries", diagnosis.map.entries}}},
            {"modem_manager_running", diagnosis.modemManagerRunning},
            {"brltty_installed", diagnosis.brlttyInstalled},
            {"problems", diagnosis.problems},
            {"ports", ports}};
}

} // namespace velmor::cli
