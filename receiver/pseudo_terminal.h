// The board's end of the serial line: a pseudo-terminal published under a
// device name, which wakes the board when clients come, go or change settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace receiver {

class PseudoTerminal {
public:
    enum class Packet {
        None,     // nothing to read now
        Data,     // bytes the client wrote
        Status,   // the client changed its line settings or flushed
    };

    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Both throw std::system_error.
    void Open();
    // Makes `linkPath` a symlink to the client side; replaces a stale symlink,
    // never another kind of file.
    void Publish(const std::string& linkPath);
    // Removes the symlink (if it is still ours) and closes everything.
    void Close();

    int MasterFd() const { return m_master; }
    int WatchFd() const { return m_watch; }

    // The client's current speed in baud; 0 when it is no standard rate.
    unsigned ClientBaud() const;
    // Reads the pending open/close notices. When a client arrives on an idle
    // line, output left unread by an earlier one is discarded.
    void TakeWatchEvents();
    bool ClientPresent() const { return m_openCount > 0; }

    Packet Read(uint8_t* buffer, size_t capacity, size_t& count);
    // Bytes taken; 0 when the line cannot take more now.
    size_t Write(const char* data, size_t size);

private:
    int m_master = -1;
    int m_ownClient = -1;   // held open so the master never sees a hang-up
    int m_watch = -1;
    std::string m_clientPath;
    std::string m_linkPath;
    int m_openCount = 0;
};

} // namespace receiver
