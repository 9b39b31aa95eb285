#include "tests/support/pty_peer.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <thread>
#include <termios.h>
#include <unistd.h>

namespace velmor::test {

PtyPeer::PtyPeer(const std::string& folder, const std::string& name)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    char slave[128];
    if (ptsname_r(m_master, slave, sizeof slave) != 0)
        throw std::runtime_error("ptsname_r failed");
    termios raw {};
    tcgetattr(m_master, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_master, TCSANOW, &raw);
    m_link = folder + "/" + name;
    unlink(m_link.c_str());
    if (symlink(slave, m_link.c_str()) != 0)
        throw std::runtime_error("cannot publish " + m_link);
}

PtyPeer::~PtyPeer()
{
    unlink(m_link.c_str());
    Hangup();
}

void PtyPeer::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error("peer write failed");
        if (n > 0)
            done += size_t(n);
    }
}

std::string PtyPeer::Read(size_t count, std::chrono::milliseconds wait)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p {m_master, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0 || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const ssize_t n = read(m_master, buf, std::min(sizeof buf, count - out.size()));
        if (n <= 0)
            break;
        out.append(buf, size_t(n));
    }
    return out;
}

std::string PtyPeer::ReadAll(std::chrono::milliseconds quiet)
{
    std::string out;
    for (;;) {
        const std::string more = Read(4096, quiet);
        if (more.empty())
            return out;
        out += more;
    }
}

uint32_t PtyPeer::Speed() const
{
    termios t {};
    tcgetattr(m_master, &t);
    switch (cfgetospeed(&t)) {
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

void PtyPeer::Hangup()
{
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

} // namespace velmor::test
