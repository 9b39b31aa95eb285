// termios serial driver. Every wait is a poll() with a time-out, so no caller's
// retry loop can spin a core, not even on a port that has vanished.
#include "platform/serial_port.h"

#include "platform/paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kWriteWaitMs = 100;   // how long one write waits for the driver to take bytes
constexpr int kInterByteMs = 1;     // a read ends once the line is quiet this long

struct PortState {
    termios original {};
    bool haveOriginal = false;
    LineCounters counters;
};

std::mutex g_portsMutex;
std::map<PortHandle, PortState> g_ports;

bool SpeedConstant(uint32_t baud, speed_t& speed)
{
    static constexpr std::pair<uint32_t, speed_t> kSpeeds[] = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
        {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
        {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
        {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& [rate, constant] : kSpeeds) {
        if (rate == baud) {
            speed = constant;
            return true;
        }
    }
    return false;
}

bool ReadCounters(PortHandle port, LineCounters& counters)
{
    serial_icounter_struct icount {};
    if (ioctl(port, TIOCGICOUNT, &icount) != 0)
        return false;
    counters.frame = uint64_t(icount.frame);
    counters.overrun = uint64_t(icount.overrun);
    counters.parity = uint64_t(icount.parity);
    counters.brk = uint64_t(icount.brk);
    counters.bufferOverrun = uint64_t(icount.buf_overrun);
    return true;
}

bool ApplySpeed(PortHandle port, termios& settings, uint32_t baud)
{
    speed_t speed;
    if (!SpeedConstant(baud, speed))
        return false;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (tcsetattr(port, TCSANOW, &settings) != 0)
        return false;
    // tcsetattr succeeds if any one change took; read back what the driver holds.
    termios check {};
    return tcgetattr(port, &check) == 0 && cfgetospeed(&check) == speed && cfgetispeed(&check) == speed;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<int64_t>(0, left.count()));
}

} // namespace

uint32_t LineErrorFlags(const LineCounters& before, const LineCounters& after)
{
    uint32_t flags = 0;
    if (after.bufferOverrun != before.bufferOverrun) flags |= CE_RXOVER;
    if (after.overrun != before.overrun) flags |= CE_OVERRUN;
    if (after.parity != before.parity) flags |= CE_RXPARITY;
    if (after.frame != before.frame) flags |= CE_FRAME;
    if (after.brk != before.brk) flags |= CE_BREAK;
    return flags;
}

std::string DevicePath(const std::string& deviceName)
{
    if (!deviceName.empty() && deviceName.front() == '/')
        return deviceName;
    std::string name = deviceName;
    if (!name.empty() && name.back() == ':')
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return DeviceDirectory() + "/" + name;
}

std::string DescribeOpenFailure(int error, const std::string& path)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return path + ": no such device";
    case EACCES:
    case EPERM: {
        struct stat info {};
        const group* owner = stat(path.c_str(), &info) == 0 ? getgrgid(info.st_gid) : nullptr;
        if (owner)
            return path + ": permission denied (the device belongs to group '" + owner->gr_name
                + "'; add the user to it)";
        return path + ": permission denied";
    }
    case EBUSY:
    case EWOULDBLOCK:
        return path + ": busy, another program holds it";
    default:
        return path + ": " + std::strerror(error);
    }
}

PortHandle OpenPort(const std::string& path, std::string* why)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (why)
            *why = DescribeOpenFailure(errno, path);
        return kInvalidPort;
    }
    // No sharing: a second opener, in this process or another, is refused. The
    // lock keeps out programs that honour it; exclusive mode keeps out the rest
    // (a GPS daemon, a modem manager, a terminal), except the superuser's.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (why)
            *why = DescribeOpenFailure(EBUSY, path);
        close(fd);
        return kInvalidPort;
    }
    ioctl(fd, TIOCEXCL);   // a pseudo-terminal takes it too; failure only loses the guard
    std::lock_guard lock(g_portsMutex);
    g_ports[fd] = PortState {};
    return fd;
}

bool ConfigurePort(PortHandle port, uint32_t baud)
{
    termios settings {};
    if (tcgetattr(port, &settings) != 0)
        return false;
    {
        std::lock_guard lock(g_portsMutex);
        PortState& state = g_ports[port];
        if (!state.haveOriginal) {
            state.original = settings;
            state.haveOriginal = true;
        }
        ReadCounters(port, state.counters);
    }

    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK | IGNPAR);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (!ApplySpeed(port, settings, baud))
        return false;

    // DTR and RTS held inactive; a pseudo-terminal has no modem lines, which is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(port, TIOCMBIC, &lines);
    return true;
}

bool SetPortSpeed(PortHandle port, uint32_t baud)
{
    termios settings {};
    return tcgetattr(port, &settings) == 0 && ApplySpeed(port, settings, baud);
}

void ClosePort(PortHandle port)
{
    if (port < 0)
        return;
    {
        std::lock_guard lock(g_portsMutex);
        auto it = g_ports.find(port);
        if (it != g_ports.end()) {
            if (it->second.haveOriginal)
                tcsetattr(port, TCSANOW, &it->second.original);
            g_ports.erase(it);
        }
    }
    ioctl(port, TIOCNXCL);
    close(port);
}

int ReadPort(PortHandle port, uint8_t* buffer, size_t max)
{
    if (port < 0)
        return -1;
    if (max == 0)
        return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(max + 1);
    size_t got = 0;
    for (;;) {
        const int remaining = RemainingMs(deadline);
        const int wait = got > 0 ? std::min(remaining, kInterByteMs) : remaining;
        pollfd p {port, POLLIN, 0};
        const int r = poll(&p, 1, wait);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return got > 0 ? int(got) : -1;
        if (r == 0)
            break;
        if (!(p.revents & POLLIN))
            return got > 0 ? int(got) : -1;   // hang-up or error: the port is gone
        const ssize_t n = read(port, buffer + got, max - got);
        if (n > 0) {
            got += size_t(n);
            if (got == max)
                break;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return got > 0 ? int(got) : -1;
        }
    }
    return int(got);
}

int WritePort(PortHandle port, const uint8_t* bytes, size_t length)
{
    if (port < 0)
        return -1;
    if (length == 0)
        return 0;
    pollfd p {port, POLLOUT, 0};
    const int r = poll(&p, 1, kWriteWaitMs);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
        return -1;
    const ssize_t n = write(port, bytes, length);
    if (n < 0)
        return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    return int(n);
}

void PurgePort(PortHandle port)
{
    tcflush(port, TCIOFLUSH);
}

void DrainPort(PortHandle port)
{
    tcdrain(port);
}

bool TakeLineErrors(PortHandle port, uint32_t& flags)
{
    flags = 0;
    LineCounters now;
    if (!ReadCounters(port, now))
        return false;
    std::lock_guard lock(g_portsMutex);
    LineCounters& last = g_ports[port].counters;
    flags = LineErrorFlags(last, now);
    last = now;
    return true;
}

} // namespace platform
