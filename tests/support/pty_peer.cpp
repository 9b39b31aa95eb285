#include "tests/support/pty_peer.h"

#include <poll.h>
#include <stdexcept>

namespace velmor::test {

PtyPeer::PtyPeer(const std::string& folder, const std::string& name)
{
    m_pty.Open();
    m_pty.Publish(folder + "/" + name);
}

void PtyPeer::Write(const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const size_t n = m_pty.Write(bytes.data() + done, bytes.size() - done);
        if (n == 0) {
            pollfd p {m_pty.MasterFd(), POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0)
                throw std::runtime_error("peer write failed");
        }
        done += n;
    }
}

std::string PtyPeer::Read(size_t count, std::chrono::milliseconds wait)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p {m_pty.MasterFd(), POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
            break;
        // One status byte leads each packet; settings changes come as packets of their own.
        uint8_t buffer[4097];
        size_t n = 0;
        if (m_pty.Read(buffer, std::min(sizeof buffer, count - out.size() + 1), n) == receiver::PseudoTerminal::Packet::Data)
            out.append(reinterpret_cast<char*>(buffer), n);
    }
    return out;
}

std::string PtyPeer::ReadAll(std::chrono::milliseconds quiet)
{
    std::string out;
    for (std::string more; !(more = Read(4096, quiet)).empty();)
        out += more;
    return out;
}

} // namespace velmor::test
