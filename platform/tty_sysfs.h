// What the kernel tells about a serial device through sysfs: its driver, the
// USB device it hangs off, an FTDI adapter's latency timer. Every lookup takes
// the sysfs root, so tests can hand it a tree of their own.
#pragma once

#include <string>
#include <vector>

namespace platform {

inline constexpr const char* kFtdiDriver = "ftdi_sio";

struct TtyFacts {
    std::string name;         // ttyUSB0; empty when sysfs has no such tty
    std::string number;       // major:minor, as udev files it
    std::string driver;       // ftdi_sio, cdc_acm, ...
    std::string vendorId, modelId, vendor, model, serial;   // the USB device's, when on USB
    std::string latencyFile;  // an FTDI adapter's latency_timer attribute
    int latencyMs = -1;       // its value; -1 when there is none
};

// The tty that the device node `node` (or a link to one) is.
TtyFacts TtyFactsOf(const std::string& node, const std::string& sysfs);
// Every ttyUSB and ttyACM device, by name.
std::vector<TtyFacts> SerialAdapters(const std::string& sysfs);
// A pseudo-terminal's client side (what the simulated board offers).
bool IsPseudoTerminal(const std::string& node);

// The number a sysfs attribute holds, -1 when it holds none.
int ReadNumberFile(const std::string& file);

} // namespace platform
