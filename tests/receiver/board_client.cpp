// The tests' serial client, on termios directly.
#include "tests/receiver/board_client.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace receiver::test {
namespace {

speed_t SpeedCode(unsigned baud)
{
    static const std::map<unsigned, speed_t> codes = {
        {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
    };
    return codes.at(baud);
}

[[noreturn]] void Fail(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

BoardClient::BoardClient(const std::string& path, unsigned baud)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        Fail("open " + path);
    SetBaud(baud);
    tcflush(m_fd, TCIOFLUSH);
}

BoardClient::~BoardClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void BoardClient::SetBaud(unsigned baud)
{
    termios settings{};
    if (tcgetattr(m_fd, &settings) != 0)
        Fail("tcgetattr");
    cfmakeraw(&settings);
    settings.c_lflag = 0;   // as strict raw clients do; the board must cope with that
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, SpeedCode(baud));
    cfsetospeed(&settings, SpeedCode(baud));
    if (tcsetattr(m_fd, TCSANOW, &settings) != 0)
        Fail("tcsetattr");
}

void BoardClient::Send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(m_fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno != EAGAIN && errno != EINTR)
                Fail("write");
            pollfd out{m_fd, POLLOUT, 0};
            ::poll(&out, 1, -1);
            continue;
        }
        bytes.remove_prefix(size_t(written));
    }
}

bool BoardClient::ReadSome(std::chrono::steady_clock::time_point deadline)
{
    using std::chrono::duration_cast, std::chrono::milliseconds;
    const auto left = duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd in{m_fd, POLLIN, 0};
    if (::poll(&in, 1, int(std::max<long long>(0, left.count()) + 1)) <= 0)
        return false;
    char buffer[4096];
    const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
    if (length > 0)
        m_collected.append(buffer, size_t(length));
    return length > 0;
}

bool BoardClient::ReadUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(m_collected)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        ReadSome(deadline);
    }
    return true;
}

void BoardClient::ReadFor(std::chrono::milliseconds duration)
{
    ReadUntil([](const std::string&) { return false; }, duration);
}

std::string BoardClient::Take()
{
    return std::exchange(m_collected, {});
}

std::string BoardClient::Ask(std::string_view query, std::string_view prefix, std::chrono::milliseconds timeout)
{
    Send(query);
    size_t start = std::string::npos;
    size_t end = std::string::npos;
    const auto found = [&](const std::string& text) {
        start = text.find(prefix);
        end = start == std::string::npos ? start : text.find('\n', start);
        return end != std::string::npos;
    };
    if (!ReadUntil(found, timeout))
        return {};
    std::string line = m_collected.substr(start, end + 1 - start);
    m_collected.erase(0, end + 1);
    return line;
}

} // namespace receiver::test
