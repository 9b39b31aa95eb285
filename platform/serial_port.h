// Serial driver on POSIX termios: open by device name, raw 8N1 line settings,
// polled reads with a wait, writes, purge and drain, and line-error counters.
#pragma once

#include "platform/line_opener.h"
#include "platform/serial_line.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <termios.h>

namespace platform {

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

// The settings a port is opened with, from what the driver held: raw 8N1, no
// flow control, modem lines ignored and not dropped on close, polled reads.
// (A pseudo-terminal forces 8 data bits and no parity whatever it is given, so
// only this shows what the driver is handed.)
termios RawLineSettings(termios settings);

// Flags for what changed between two readings of the counters.
uint32_t LineErrorFlags(const LineCounters& before, const LineCounters& after);

// "GPS1:" -> <device folder>/gps1: lower case, trailing colon dropped. A name
// with a '/' in it is a path and stays as it is.
std::string DevicePath(const std::string& deviceName);

// Why `path` did not open, from its errno: the kind, and a description for
// the user (missing device, permission naming the device's group, busy).
OpenError DescribeOpenFailure(int error, const std::string& path);

// The termios port: owns its descriptor, its lock and exclusive mode, the
// settings found at open (restored on close) and the driver's error counters.
class SerialPort : public SerialLine {
public:
    // Opens the device for exclusive use and asks its driver to hand bytes on
    // at once; nullptr on failure, with the reason in `error` when given.
    // `sysfs` is where the adapter's latency timer is looked up.
    static std::unique_ptr<SerialPort> Open(const std::string& path, OpenError* error = nullptr,
                                            const std::string& sysfs = "/sys");
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Raw 8N1, no flow control, DTR and RTS inactive, at `baud`; read back to check.
    bool Configure(uint32_t baud);

    int Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait) override;
    int Write(const uint8_t* bytes, size_t length) override;
    bool SetSpeed(uint32_t baud) override;
    void Purge() override;
    void Drain() override;
    bool TakeLineErrors(uint32_t& flags) override;
    void Pause(std::chrono::milliseconds duration) override;
    Clock::time_point Now() const override;
    // After a hang-up, EIO, or a read of nothing when the port said it was readable.
    bool Gone() const override { return m_gone; }
    std::string Name() const override { return m_path; }
    std::string Advice() const override { return m_advice; }

    int Descriptor() const { return m_fd; }

private:
    SerialPort(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}

    int m_fd;
    std::string m_path;
    std::string m_advice;
    bool m_gone = false;
    termios m_original {};
    bool m_haveOriginal = false;
    LineCounters m_counters;
};

} // namespace platform
