// `velmor-cli watch`: a production line. Every matching receiver that is
// plugged in is flashed once, in parallel with the others, and recorded.
#pragma once

#include "loader/cli/flash_job.h"
#include "loader/cli/port_events.h"
#include "loader/cli/signal_stop.h"

#include <set>
#include <string>
#include <vector>

namespace velmor::cli {

struct WatchOptions {
    FlashOptions flash;                // its deadline is set for each receiver from `timeout`
    double timeout = 0;                // seconds per receiver; 0: only the receiver's own limits
    std::string logDir = ".";
    std::vector<std::string> match;    // globs on the stable name, the device path or the folder's name
    std::vector<std::string> usb;      // VID:PID
    bool newOnly = false;              // leave the ports there at start alone
    int count = 0;                     // end after this many receivers; 0: until stopped
    std::string report;                // JSON lines, appended
    std::string junit;                 // JUnit XML, rewritten
};

// Which ports the watch takes, and when: a matching port as it appears, and
// again only after it has gone away. A receiver left plugged in is taken
// once, however often its add event comes again (udevadm trigger does that).
class PortTracker {
public:
    PortTracker(std::vector<std::string> match, std::vector<std::string> usb);
    bool Matches(const PortEntry& port) const;
    // Whether the event's port is one to flash now.
    bool Offer(const PortEvent& event);

private:
    std::vector<std::string> m_match;
    std::vector<std::string> m_usb;
    std::set<std::string> m_taken;   // device paths taken and not gone since
};

// Until `count` receivers are done, or a signal; the ports come from the
// device folder when VELMOR_DEVICE_DIR is set, else from udev. The exit
// status is the worst of the receivers' (as `flash` gives it), 130 when stopped.
int RunWatch(const WatchOptions& options, const SignalStop& signals);

} // namespace velmor::cli
