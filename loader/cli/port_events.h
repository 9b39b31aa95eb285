// Ports as they come and go, for `velmor-cli watch`: from udev on a real
// machine, from the device folder (VELMOR_DEVICE_DIR) in tests and the demo.
#pragma once

#include "loader/cli/port_list.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmor::cli {

struct PortEvent {
    enum class Kind { Added, Removed };
    Kind kind = Kind::Added;
    PortEntry port;   // `name` is what to open; `path` the node, the same in both kinds
};

// A source of port events with a descriptor to wait on: it becomes readable
// when events wait, so the watch blocks instead of polling on a timer.
class PortEvents {
public:
    virtual ~PortEvents() = default;
    // The ports there now. Events are already being gathered, so a port that
    // comes meanwhile is not missed (it may come twice: once here, once added).
    virtual std::vector<PortEntry> Present() = 0;
    virtual int Fd() const = 0;
    // What waits, without blocking.
    virtual std::vector<PortEvent> Take() = 0;
};

// The device folder's gps<N> devices (other names there, such as a board's
// flash file or a link being made, are no ports), watched with inotify.
// nullptr with `why` when the folder cannot be watched.
std::unique_ptr<PortEvents> WatchDeviceFolder(const std::string& folder, std::string& why);
// The system's USB and ACM serial devices, from libudev's monitor.
std::unique_ptr<PortEvents> WatchUdev(std::string& why);

// One udev event, as its properties (ACTION, DEVNAME, DEVLINKS, ID_...): the
// port event it stands for, or none when it is not a USB serial device's add
// or remove.
std::optional<PortEvent> PortEventFromUdev(const std::map<std::string, std::string>& properties);

} // namespace velmor::cli
