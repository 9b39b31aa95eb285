// Pseudo-terminal set-up for the simulated board. Packet mode with external
// processing makes each client tcsetattr() wake the master with a status byte.
#include "receiver/pseudo_terminal.h"

#include "receiver/line_speed.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace receiver {
namespace {

constexpr uint32_t kWatchedEvents = IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE;
constexpr size_t kEventBufferSize = 4096;

[[noreturn]] void ThrowErrno(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    Close();
}

void PseudoTerminal::Open()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0)
        ThrowErrno("posix_openpt");
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        ThrowErrno("grantpt/unlockpt");
    char name[PATH_MAX];
    if (ptsname_r(m_master, name, sizeof name) != 0)
        ThrowErrno("ptsname_r");
    m_clientPath = name;

    termios settings{};
    if (tcgetattr(m_master, &settings) != 0)
        ThrowErrno("tcgetattr");
    cfmakeraw(&settings);
    settings.c_lflag |= EXTPROC;
    if (tcsetattr(m_master, TCSANOW, &settings) != 0)
        ThrowErrno("tcsetattr");
    int on = 1;
    if (ioctl(m_master, TIOCPKT, &on) != 0)
        ThrowErrno("TIOCPKT");

    // Opened before the watch starts, so it never counts as a client.
    m_ownClient = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_ownClient < 0)
        ThrowErrno("open " + m_clientPath);
    m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0)
        ThrowErrno("inotify_init1");
    if (inotify_add_watch(m_watch, name, kWatchedEvents) < 0)
        ThrowErrno("inotify_add_watch " + m_clientPath);
}

void PseudoTerminal::Publish(const std::string& linkPath)
{
    char existing[PATH_MAX];
    if (::readlink(linkPath.c_str(), existing, sizeof existing) < 0 && errno != ENOENT)
        ThrowErrno(linkPath + " exists and is no symlink");

    // Made aside and renamed over, so a client never finds the name missing.
    const std::string temporary = linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(m_clientPath.c_str(), temporary.c_str()) != 0)
        ThrowErrno("symlink " + temporary);
    if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        ThrowErrno("rename to " + linkPath);
    }
    m_linkPath = linkPath;
}

void PseudoTerminal::Close()
{
    if (!m_linkPath.empty()) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
        // Another board may have taken the name over meanwhile.
        if (length >= 0 && std::string(target, size_t(length)) == m_clientPath)
            ::unlink(m_linkPath.c_str());
        m_linkPath.clear();
    }
    CloseFd(m_watch);
    CloseFd(m_ownClient);
    CloseFd(m_master);
    m_openCount = 0;
}

unsigned PseudoTerminal::ClientBaud() const
{
    // A client that clears every local flag is no longer reported; callers
    // read the speed again before they act on it. Setting the flag back from
    // here could overwrite a change the client makes at the same moment.
    termios settings{};
    if (tcgetattr(m_master, &settings) != 0)
        return 0;
    return BaudFromSpeed(cfgetospeed(&settings));
}

void PseudoTerminal::TakeWatchEvents()
{
    alignas(inotify_event) char buffer[kEventBufferSize];
    for (;;) {
        const ssize_t length = ::read(m_watch, buffer, sizeof buffer);
        if (length <= 0)
            return;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN) {
                // Whatever the last client left unread is not on this client's wire.
                if (m_openCount++ == 0)
                    tcflush(m_ownClient, TCIFLUSH);
            } else if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (m_openCount > 0)
                    --m_openCount;
            }
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

PseudoTerminal::Packet PseudoTerminal::Read(uint8_t* buffer, size_t capacity, size_t& count)
{
    count = 0;
    // Every read in packet mode starts with one status byte; 0 means data follows.
    const ssize_t length = ::read(m_master, buffer, capacity);
    if (length <= 0)
        return Packet::None;
    if (buffer[0] != TIOCPKT_DATA)
        return Packet::Status;
    count = size_t(length - 1);
    std::copy(buffer + 1, buffer + length, buffer);
    return Packet::Data;
}

size_t PseudoTerminal::Write(const char* data, size_t size)
{
    const ssize_t written = ::write(m_master, data, size);
    if (written >= 0)
        return size_t(written);
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    return size;   // a broken line swallows what is sent
}

} // namespace receiver
