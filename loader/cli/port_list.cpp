// The port listing: GPS names from the device folder, devices from libudev.
#include "loader/cli/port_list.h"

#include "platform/paths.h"

#include <libudev.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

namespace velmor::cli {
namespace {

namespace fs = std::filesystem;

inline constexpr const char* kByIdFolder = "/dev/serial/by-id";
inline constexpr const char* kGpsNames[][2] = {{"GPS1:", "gps1"}, {"GPS2:", "gps2"}};

template <auto Unref>
struct UdevUnref {
    template <typename T>
    void operator()(T* p) const { Unref(p); }
};
using Udev = std::unique_ptr<udev, UdevUnref<udev_unref>>;
using UdevEnumerate = std::unique_ptr<udev_enumerate, UdevUnref<udev_enumerate_unref>>;
using UdevDevice = std::unique_ptr<udev_device, UdevUnref<udev_device_unref>>;

// The udev database has the cleaned-up names; without it (no udevd, as in a
// container) the USB device's own attributes still say who made it.
std::string UsbField(udev_device* tty, udev_device* usb, const char* property, const char* sysattr)
{
    for (udev_device* dev : {tty, usb}) {
        const char* value = dev ? udev_device_get_property_value(dev, property) : nullptr;
        if (value && *value)
            return value;
    }
    const char* value = usb ? udev_device_get_sysattr_value(usb, sysattr) : nullptr;
    return value ? value : "";
}

std::string ByIdLink(udev_device* tty)
{
    const std::string prefix = std::string(kByIdFolder) + "/";
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_device_get_devlinks_list_entry(tty)) {
        const std::string link = udev_list_entry_get_name(entry);
        if (link.starts_with(prefix))
            return link;
    }
    return {};
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

} // namespace

std::vector<PortEntry> SystemSerialDevices()
{
    std::vector<PortEntry> devices;
    Udev context(udev_new());
    UdevEnumerate scan(context ? udev_enumerate_new(context.get()) : nullptr);
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 || udev_enumerate_scan_devices(scan.get()) < 0)
        return devices;

    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        UdevDevice tty(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        const char* sysname = tty ? udev_device_get_sysname(tty.get()) : nullptr;
        if (!sysname)
            continue;
        const std::string name = sysname;
        if (!name.starts_with("ttyUSB") && !name.starts_with("ttyACM"))
            continue;

        // Owned by the tty device.
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
        PortEntry port;
        const char* node = udev_device_get_devnode(tty.get());
        port.path = node ? node : "/dev/" + name;
        port.name = port.path;
        port.stableName = ByIdLink(tty.get());
        port.vendorId = UsbField(tty.get(), usb, "ID_VENDOR_ID", "idVendor");
        port.modelId = UsbField(tty.get(), usb, "ID_MODEL_ID", "idProduct");
        port.vendor = UsbField(tty.get(), usb, "ID_VENDOR", "manufacturer");
        port.model = UsbField(tty.get(), usb, "ID_MODEL", "product");
        // ID_SERIAL is vendor_model_serial; the short one is the number alone.
        port.serial = UsbField(tty.get(), usb, "ID_SERIAL_SHORT", "serial");
        devices.push_back(std::move(port));
    }
    std::sort(devices.begin(), devices.end(), [](const PortEntry& a, const PortEntry& b) { return a.path < b.path; });
    return devices;
}

std::vector<PortEntry> CollectPorts(std::vector<PortEntry> devices, const std::string& byIdFolder)
{
    // The by-id links also stand for devices udev did not report (no /sys).
    std::vector<std::string> links;
    std::error_code error;
    for (const auto& link : fs::directory_iterator(byIdFolder, error))
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
    const std::string folder = platform::DeviceDirectory();
    for (const auto& [name, file] : kGpsNames) {
        const std::string path = folder + "/" + file;
        if (!Exists(path))
            continue;
        byNode.emplace(NodeKey(path), ports.size());
        PortEntry gps;
        gps.name = name;
        gps.path = path;
        gps.present = true;
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
    return ports;
}

std::vector<PortEntry> ListPorts()
{
    return CollectPorts(SystemSerialDevices(), kByIdFolder);
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
        add(port.stableName);
        if (!port.vendorId.empty() || !port.modelId.empty())
            add(port.vendorId + ":" + port.modelId);
        add(port.vendor.empty() || port.model.empty() ? port.vendor + port.model : port.vendor + " " + port.model);
        if (!port.serial.empty())
            add("serial " + port.serial);
        if (!port.present)
            add("(no device node)");
        out << line << '\n';
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
        });
    }
    return list;
}

} // namespace velmor::cli
