#include "loader/cli/port_events.h"

#include <libudev.h>

#include <filesystem>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::cli {
namespace {

// gps1, gps2, ...: what the GPS names stand for in the folder.
bool IsGpsName(const std::string& name)
{
    return name.size() > 3 && name.starts_with("gps")
        && std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsDevice(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

class FolderEvents : public PortEvents {
public:
    FolderEvents(std::string folder, int fd) : m_folder(std::move(folder)), m_fd(fd) {}
    ~FolderEvents() override { close(m_fd); }

    int Fd() const override { return m_fd; }

    std::vector<PortEntry> Present() override
    {
        std::vector<std::string> names;
        if (DIR* dir = opendir(m_folder.c_str())) {
            while (const dirent* entry = readdir(dir))
                names.push_back(entry->d_name);
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        std::vector<PortEntry> ports;
        for (const std::string& name : names)
            if (IsGpsName(name) && IsDevice(m_folder + "/" + name))
                ports.push_back(Entry(name));
        return ports;
    }

    std::vector<PortEvent> Take() override
    {
        std::vector<PortEvent> events;
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (ssize_t n; (n = read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    // Events were lost: what is there now comes again, and the
                    // watch takes only the ports it had not.
                    for (PortEntry& port : Present())
                        events.push_back({PortEvent::Kind::Added, std::move(port)});
                    continue;
                }
                const std::string name = event->len ? event->name : "";
                if (!IsGpsName(name))
                    continue;
                if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                    events.push_back({PortEvent::Kind::Removed, Entry(name)});
                else if (IsDevice(m_folder + "/" + name))
                    events.push_back({PortEvent::Kind::Added, Entry(name)});
            }
        }
        return events;
    }

private:
    PortEntry Entry(const std::string& name) const
    {
        PortEntry port;
        port.name = port.path = m_folder + "/" + name;
        port.present = true;
        return port;
    }

    const std::string m_folder;
    const int m_fd;
};

template <auto Unref>
struct UdevUnref {
    template <typename T>
    void operator()(T* p) const { Unref(p); }
};

class UdevEvents : public PortEvents {
public:
    UdevEvents(udev* context, udev_monitor* monitor) : m_udev(context), m_monitor(monitor) {}

    int Fd() const override { return udev_monitor_get_fd(m_monitor.get()); }
    std::vector<PortEntry> Present() override
    {
        // The adapters as sysfs shows them, each with its by-id name when it has one.
        const platform::PortEnvironment where = platform::SystemPorts();
        std::vector<PortEntry> ports = SystemSerialDevices(where);
        std::error_code error;
        for (const auto& link : std::filesystem::directory_iterator(where.dev + "/serial/by-id", error)) {
            std::error_code unresolved;
            const std::string node = std::filesystem::canonical(link.path(), unresolved).string();
            for (PortEntry& port : ports)
                if (!unresolved && port.path == node)
                    port.stableName = link.path().string();
        }
        return ports;
    }

    std::vector<PortEvent> Take() override
    {
        std::vector<PortEvent> events;
        // The monitor's socket does not block: null once nothing waits.
        while (udev_device* device = udev_monitor_receive_device(m_monitor.get())) {
            std::map<std::string, std::string> properties;
            udev_list_entry* entry = nullptr;
            udev_list_entry_foreach(entry, udev_device_get_properties_list_entry(device)) {
                const char* value = udev_list_entry_get_value(entry);
                properties[udev_list_entry_get_name(entry)] = value ? value : "";
            }
            udev_device_unref(device);
            if (auto event = PortEventFromUdev(properties))
                events.push_back(std::move(*event));
        }
        return events;
    }

private:
    std::unique_ptr<udev, UdevUnref<udev_unref>> m_udev;
    std::unique_ptr<udev_monitor, UdevUnref<udev_monitor_unref>> m_monitor;
};

} // namespace

std::unique_ptr<PortEvents> WatchDeviceFolder(const std::string& folder, std::string& why)
{
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM) < 0) {
        why = folder + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    return std::make_unique<FolderEvents>(folder, fd);
}

std::unique_ptr<PortEvents> WatchUdev(std::string& why)
{
    udev* context = udev_new();
    // "udev": events after udevd has run its rules, so the by-id links and
    // the ID_ properties are there.
    udev_monitor* monitor = context ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0
        || udev_monitor_enable_receiving(monitor) < 0) {
        why = "no udev to watch (a container without udevd?): set VELMOR_DEVICE_DIR to watch a folder";
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevEvents>(context, monitor);
}

std::optional<PortEvent> PortEventFromUdev(const std::map<std::string, std::string>& properties)
{
    const auto get = [&properties](const char* key) {
        const auto found = properties.find(key);
        return found == properties.end() ? std::string() : found->second;
    };
    const std::string action = get("ACTION");
    const std::string node = get("DEVNAME");
    const std::string name = node.substr(node.rfind('/') + 1);
    if ((action != "add" && action != "remove") || get("SUBSYSTEM") != "tty"
        || !(name.starts_with("ttyUSB") || name.starts_with("ttyACM")))
        return std::nullopt;
    PortEvent event;
    event.kind = action == "add" ? PortEvent::Kind::Added : PortEvent::Kind::Removed;
    PortEntry& port = event.port;
    port.name = port.path = node;
    port.present = event.kind == PortEvent::Kind::Added;
    std::istringstream links(get("DEVLINKS"));
    for (std::string link; links >> link;)
        if (link.starts_with("/dev/serial/by-id/"))
            port.stableName = link;
    port.vendorId = get("ID_VENDOR_ID");
    port.modelId = get("ID_MODEL_ID");
    port.vendor = get("ID_VENDOR");
    port.model = get("ID_MODEL");
    port.serial = get("ID_SERIAL_SHORT");
    return event;
}

} // namespace velmor::cli
