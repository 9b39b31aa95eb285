// termios serial driver. Every wait is a poll() with a time-out, so no caller's
// retry loop can spin a core, not even on a port that has vanished.
#include "platform/serial_port.h"

#include "platform/paths.h"
#include "platform/tty_sysfs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kWriteWaitMs = 100;   // how long one write waits for the driver to take bytes
constexpr int kInterByteMs = 1;     // a read ends once the line is quiet this long


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

bool ReadCounters(int port, LineCounters& counters)
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

bool ApplySpeed(int port, termios& settings, uint32_t baud)
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

// A USB adapter otherwise holds received bytes back for its latency timer.
// Pseudo-terminals and many drivers refuse the request: they lose nothing by it.
void RequestLowLatency(int port)
{
    serial_struct info {};
    if (ioctl(port, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY))
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    ioctl(port, TIOCSSERIAL, &info);
}

// An FTDI adapter sends what it received every latency timer (16 ms unless
// set): set 1 ms where this user may, else the advice on how.
std::string LowerLatencyTimer(const std::string& path, const std::string& sysfs)
{
    const TtyFacts tty = TtyFactsOf(path, sysfs);
    if (tty.driver != kFtdiDriver || tty.latencyMs <= 1)
        return {};
    std::ofstream(tty.latencyFile) << "1\n";
    if (ReadNumberFile(tty.latencyFile) == 1)
        return {};
    return path + ": the FTDI adapter's latency timer is " + std::to_string(tty.latencyMs)
           + " ms and could not be set to 1 ms, so every answer comes late; until it is unplugged: echo 1 | sudo tee "
           + tty.latencyFile;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<int64_t>(0, left.count()));
}

} // namespace

termios RawLineSettings(termios settings)
{
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK | IGNPAR);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return settings;
}

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
    // A path, absolute or relative, names its device itself.
    if (deviceName.find('/') != std::string::npos)
        return deviceName;
    std::string name = deviceName;
    if (!name.empty() && name.back() == ':')
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return DeviceDirectory() + "/" + name;
}

OpenError DescribeOpenFailure(int error, const std::string& path)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return {OpenFault::NotFound, path, path + ": no such device"};
    case EACCES:
    case EPERM: {
        struct stat info {};
        const group* owner = stat(path.c_str(), &info) == 0 ? getgrgid(info.st_gid) : nullptr;
        if (owner)
            return {OpenFault::NoPermission, path,
                    path + ": permission denied (the device belongs to group '" + owner->gr_name
                        + "'; add the user to it)"};
        return {OpenFault::NoPermission, path, path + ": permission denied"};
    }
    case EBUSY:
    case EWOULDBLOCK:
        return {OpenFault::Busy, path, path + ": busy, another program holds it"};
    default:
        return {OpenFault::Other, path, path + ": " + std::strerror(error)};
    }
}

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& path, OpenError* error, const std::string& sysfs)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = DescribeOpenFailure(errno, path);
        return nullptr;
    }
    // No sharing: a second opener, in this process or another, is refused. The
    // lock keeps out programs that honour it; exclusive mode keeps out the rest
    // (a GPS daemon, a modem manager, a terminal), except the superuser's.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (error)
            *error = DescribeOpenFailure(EBUSY, path);
        close(fd);
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);   // a pseudo-terminal takes it too; failure only loses the guard
    RequestLowLatency(fd);   // the FTDI driver then sets 1 ms itself
    std::unique_ptr<SerialPort> port(new SerialPort(fd, path));
    port->m_advice = LowerLatencyTimer(path, sysfs);
    return port;
}

SerialPort::~SerialPort()
{
    if (m_haveOriginal)
        tcsetattr(m_fd, TCSANOW, &m_original);
    ioctl(m_fd, TIOCNXCL);
    close(m_fd);
}

bool SerialPort::Configure(uint32_t baud)
{
    termios settings {};
    if (tcgetattr(m_fd, &settings) != 0)
        return false;
    if (!m_haveOriginal) {
        m_original = settings;
        m_haveOriginal = true;
    }
    ReadCounters(m_fd, m_counters);

    settings = RawLineSettings(settings);
    if (!ApplySpeed(m_fd, settings, baud))
        return false;

    // DTR and RTS held inactive; a pseudo-terminal has no modem lines, which is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(m_fd, TIOCMBIC, &lines);
    return true;
}

bool SerialPort::SetSpeed(uint32_t baud)
{
    termios settings {};
    return tcgetattr(m_fd, &settings) == 0 && ApplySpeed(m_fd, settings, baud);
}

int SerialPort::Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait)
{
    if (max == 0)
        return 0;
    if (m_gone)
        return -1;
    const auto deadline = Clock::now() + wait;
    size_t got = 0;
    for (;;) {
        const int remaining = RemainingMs(deadline);
        const int timeout = got > 0 ? kInterByteMs : remaining;
        pollfd p {m_fd, POLLIN, 0};
        const int r = poll(&p, 1, timeout);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return got > 0 ? int(got) : -1;
        if (r == 0)
            break;
        if (!(p.revents & POLLIN)) {
            m_gone = true;   // hang-up or error: the port is gone
            return got > 0 ? int(got) : -1;
        }
        const ssize_t n = read(m_fd, buffer + got, max - got);
        if (n > 0) {
            got += size_t(n);
            if (got == max)
                break;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            // Readable with nothing to read, or EIO: an adapter pulled out.
            m_gone = true;
            return got > 0 ? int(got) : -1;
        }
    }
    return int(got);
}

int SerialPort::Write(const uint8_t* bytes, size_t length)
{
    if (length == 0)
        return 0;
    if (m_gone)
        return -1;
    pollfd p {m_fd, POLLOUT, 0};
    const int r = poll(&p, 1, kWriteWaitMs);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        m_gone = true;
        return -1;
    }
    const ssize_t n = write(m_fd, bytes, length);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return 0;
        m_gone = errno == EIO || errno == ENXIO || errno == ENODEV;
        return -1;
    }
    return int(n);
}

void SerialPort::Purge()
{
    tcflush(m_fd, TCIOFLUSH);
}

void SerialPort::Drain()
{
    tcdrain(m_fd);
}

bool SerialPort::TakeLineErrors(uint32_t& flags)
{
    flags = 0;
    LineCounters now;
    if (!ReadCounters(m_fd, now))
        return false;
    flags = LineErrorFlags(m_counters, now);
    m_counters = now;
    return true;
}

void SerialPort::Pause(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

SerialLine::Clock::time_point SerialPort::Now() const
{
    return Clock::now();
}

} // namespace platform
