// The port listing: GPS names from the device folder or the port map, devices
// from sysfs.
#include "loader/cli/port_list.h"

#include "platform/port_map.h"
#include "platform/rfc2217_line.h"
#include "platform/tty_sysfs.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace velmor::cli {
namespace {

namespace fs = std::filesystem;

inline constexpr const char* kGpsNames[][2] = {{"GPS1:", "gps1"}, {"GPS2:", "gps2"}};

const char* ViaName(platform::PortVia via)
{
    switch (via) {
    case platform::PortVia::DeviceFolder: return "device folder";
    case platform::PortVia::Map: return "port map";
    case platform::PortVia::Default: return "default";
    default: return "";
    }
}

// Links resolve to their node, so a link and its target share one key; a
// missing node keeps its own path.
std::string NodeKey(const std::string& path)
{
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? path : resolved.string();
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

void FillMissing(PortEntry& into, const PortEntry& from)
{
    for (auto field : {&PortEntry::stableName, &PortEntry::vendorId, &PortEntry::modelId, &PortEntry::vendor,
                       &PortEntry::model, &PortEntry::serial}) {
        if ((into.*field).empty())
            into.*field = from.*field;
    }
}

// The udev rule matches the adapter's USB serial number, or, for an adapter
// without one, every adapter of its model.
void SuggestLines(PortEntry& adapter, const std::string& name, const std::string& file)
{
    adapter.mapLine = name.substr(0, name.size() - 1) + "=" + (adapter.stableName.empty() ? adapter.path
                                                                                          : adapter.stableName);
    const std::string match = !adapter.serial.empty()
                                  ? "ATTRS{serial}==\"" + adapter.serial + "\""
                                  : "ATTRS{idVendor}==\"" + adapter.vendorId + "\", ATTRS{idProduct}==\""
                                        + adapter.modelId + "\"";
    if (!adapter.vendorId.empty())
        adapter.udevRule = "SUBSYSTEM==\"tty\", " + match + ", SYMLINK+=\"" + file + "\"";
}

} // namespace

std::vector<PortEntry> SystemSerialDevices(const platform::PortEnvironment& where)
{
    std::vector<PortEntry> devices;
    for (const platform::TtyFacts& tty : platform::SerialAdapters(where.sysfs)) {
        PortEntry port;
        port.name = port.path = where.dev + "/" + tty.name;
        port.vendorId = tty.vendorId;
        port.modelId = tty.modelId;
        port.vendor = tty.vendor;
        port.model = tty.model;
        port.serial = tty.serial;
        devices.push_back(std::move(port));
    }
    return devices;
}

std::vector<PortEntry> CollectPorts(std::vector<PortEntry> devices, const platform::PortEnvironment& where)
{
    // The by-id links also stand for devices sysfs did not show.
    std::vector<std::string> links;
    std::error_code error;
    for (const auto& link : fs::directory_iterator(where.dev + "/serial/by-id", error))
        links.push_back(link.path().string());
    std::sort(links.begin(), links.end());
    for (const std::string& link : links) {
        PortEntry device;
        device.name = device.path = NodeKey(link);
        device.stableName = link;
        devices.push_back(std::move(device));
    }

    std::vector<PortEntry> ports;
    std::map<std::string, size_t> byNode;
    std::vector<size_t> unused;
    for (size_t i = 0; i < std::size(kGpsNames); ++i) {
        const char* name = kGpsNames[i][0];
        const platform::PortRoute route = platform::RoutePort(name, where);
        const bool network = platform::IsNetworkPortName(route.device);
        if (!route.problem.empty() || (route.via != platform::PortVia::Map && !Exists(route.device))) {
            unused.push_back(i);
            continue;
        }
        if (!network)
            byNode.emplace(NodeKey(route.device), ports.size());
        PortEntry gps;
        gps.name = name;
        gps.path = route.device;
        gps.present = !network && Exists(route.device);
        gps.via = ViaName(route.via);
        ports.push_back(std::move(gps));
    }
    for (PortEntry& device : devices) {
        const auto [known, added] = byNode.emplace(NodeKey(device.path), ports.size());
        if (!added) {
            FillMissing(ports[known->second], device);
            continue;
        }
        device.present = Exists(device.path);
        ports.push_back(std::move(device));
    }
    const auto& [name, file] = kGpsNames[unused.empty() ? 0 : unused.front()];
    for (PortEntry& port : ports)
        if (port.via.empty() && port.present)
            SuggestLines(port, name, file);
    return ports;
}

std::vector<PortEntry> ListPorts(const platform::PortEnvironment& where)
{
    return CollectPorts(SystemSerialDevices(where), where);
}

std::string MapInEffect(const platform::PortEnvironment& where)
{
    if (!where.deviceDir.empty())
        return "GPS1: and GPS2: are gps1 and gps2 in " + where.deviceDir + " (VELMOR_DEVICE_DIR); no port map is read";
    if (where.mapFile.empty())
        return "No port map: no home folder. GPS1: and GPS2: are " + where.dev + "/gps1 and " + where.dev + "/gps2";
    const platform::PortMap map = platform::ReadPortMap(where.mapFile);
    std::string text = "Port map " + map.file + (map.found ? ":" : " (none):");
    if (!map.problem.empty())
        return text + " not used, " + map.problem + "; GPS1: and GPS2: do not open until it is mended";
    for (const auto& [name, file] : kGpsNames) {
        const std::string key(name, std::strlen(name) - 1);
        const auto entry = map.entries.find(key);
        text += entry != map.entries.end() ? " " + key + "=" + entry->second
                                           : " " + std::string(name) + " is " + where.dev + "/" + file;
        text += name == kGpsNames[0][0] ? "," : "";
    }
    return text;
}

std::string FormatPorts(const std::vector<PortEntry>& ports)
{
    size_t width = 0;
    for (const PortEntry& port : ports)
        width = std::max(width, port.name.size());

    std::ostringstream out;
    for (const PortEntry& port : ports) {
        std::string line = port.name + std::string(width - port.name.size(), ' ');
        auto add = [&line](const std::string& text) {
            if (!text.empty())
                line += "  " + text;
        };
        if (port.path != port.name)
            add(port.path);
        if (port.stableName != port.path)
            add(port.stableName);
        if (!port.vendorId.empty() || !port.modelId.empty())
            add(port.vendorId + ":" + port.modelId);
        add(port.vendor.empty() || port.model.empty() ? port.vendor + port.model : port.vendor + " " + port.model);
        if (!port.serial.empty())
            add("serial " + port.serial);
        if (!port.via.empty())
            add("(" + port.via + ")");
        if (!port.present && !platform::IsNetworkPortName(port.path))
            add("(no device node)");
        out << line << '\n';
        if (!port.mapLine.empty())
            out << "    port map line: " << port.mapLine << '\n';
        if (!port.udevRule.empty())
            out << "    udev rule:     " << port.udevRule << '\n';
    }
    return out.str();
}

nlohmann::json PortsToJson(const std::vector<PortEntry>& ports)
{
    auto orNull = [](const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); };
    nlohmann::json list = nlohmann::json::array();
    for (const PortEntry& port : ports) {
        list.push_back({
            {"name", port.name},
            {"path", port.path},
            {"stableName", orNull(port.stableName)},
            {"vendorId", orNull(port.vendorId)},
            {"modelId", orNull(port.modelId)},
            {"vendor", orNull(port.vendor)},
            {"model", orNull(port.model)},
            {"serial", orNull(port.serial)},
            {"present", port.present},
            {"via", orNull(port.via)},
            {"mapLine", orNull(port.mapLine)},
            {"udevRule", orNull(port.udevRule)},
        });
    }
    return list;
}

} // namespace velmor::cli
