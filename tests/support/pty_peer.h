// The far end of a pseudo-terminal, published as <folder>/<name>, for tests
// that script the receiver's side byte by byte. It is the board's own
// pseudo-terminal without the board.
#pragma once

#include "receiver/pseudo_terminal.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace velmor::test {

class PtyPeer {
public:
    // Publishes the terminal as `folder`/`name` (for example "gps1").
    PtyPeer(const std::string& folder, const std::string& name);

    void Write(const std::string& bytes);
    // What the other side wrote, until `count` bytes came or the time is up.
    std::string Read(size_t count, std::chrono::milliseconds wait);
    // Everything the other side wrote so far, waiting `quiet` for more.
    std::string ReadAll(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));
    // The line speed the other side set.
    uint32_t Speed() const { return m_pty.ClientBaud(); }
    // Closes the terminal: the port vanishes under the other side.
    void Hangup() { m_pty.Close(); }

private:
    receiver::PseudoTerminal m_pty;
};

} // namespace velmor::test
