// The far end of a pseudo-terminal, published as <folder>/<name>, for tests
// that script the receiver's side byte by byte.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace velmor::test {

class PtyPeer {
public:
    // Publishes the terminal as `folder`/`name` (for example "gps1").
    PtyPeer(const std::string& folder, const std::string& name);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& LinkPath() const { return m_link; }
    void Write(const std::string& bytes);
    // What the other side wrote, until `count` bytes came or the time is up.
    std::string Read(size_t count, std::chrono::milliseconds wait);
    // Everything the other side wrote so far, waiting `quiet` for more.
    std::string ReadAll(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));
    // The line speed the other side set.
    uint32_t Speed() const;
    // Closes the master: the port vanishes under the other side.
    void Hangup();

private:
    int m_master = -1;
    std::string m_link;
};

} // namespace velmor::test
