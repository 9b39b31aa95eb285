// Serial driver on POSIX termios: open by device name, raw 8N1 line settings,
// short polled reads, writes, purge and drain, and line-error counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using PortHandle = int;
inline constexpr PortHandle kInvalidPort = -1;

// Line-error flags, in the values the loader reports.
inline constexpr uint32_t CE_RXOVER = 0x001;
inline constexpr uint32_t CE_OVERRUN = 0x002;
inline constexpr uint32_t CE_RXPARITY = 0x004;
inline constexpr uint32_t CE_FRAME = 0x008;
inline constexpr uint32_t CE_BREAK = 0x010;
inline constexpr uint32_t CE_TXFULL = 0x100;

// Driver error counters, as a real UART counts them.
struct LineCounters {
    uint64_t frame = 0;
    uint64_t overrun = 0;       // hardware overrun
    uint64_t parity = 0;
    uint64_t brk = 0;
    uint64_t bufferOverrun = 0; // receive buffer full
};

// Flags for what changed between two readings of the counters.
uint32_t LineErrorFlags(const LineCounters& before, const LineCounters& after);

// "GPS1:" -> <device folder>/gps1: lower case, trailing colon dropped.
std::string DevicePath(const std::string& deviceName);

// Opens the device for exclusive use; kInvalidPort on failure, with the reason
// in `why` when given.
PortHandle OpenPort(const std::string& path, std::string* why = nullptr);
// A line for the user on why `path` did not open: missing device, permission
// (naming the device's group), busy.
std::string DescribeOpenFailure(int error, const std::string& path);
// Raw 8N1, no flow control, DTR and RTS inactive, at `baud`; read back to check.
bool ConfigurePort(PortHandle port, uint32_t baud);
// Changes only the speed; false when the driver refuses the rate.
bool SetPortSpeed(PortHandle port, uint32_t baud);
// Restores the settings found at open and closes.
void ClosePort(PortHandle port);

// Reads up to `max` bytes, returning within about max + 1 ms: the count, 0 when
// nothing came, -1 when the port failed (for example it vanished).
int ReadPort(PortHandle port, uint8_t* buffer, size_t max);
// Writes what the driver takes now: the count, 0 when it took nothing within a
// short wait, -1 on failure.
int WritePort(PortHandle port, const uint8_t* bytes, size_t length);

void PurgePort(PortHandle port);   // drop pending input and output
void DrainPort(PortHandle port);   // wait until pending output has left

// Line-error flags raised since the last call, cleared by reading. False when
// the driver keeps no counters (a pseudo-terminal, a USB adapter without them).
bool TakeLineErrors(PortHandle port, uint32_t& flags);

} // namespace platform
