// The firmware's settings for its two serial ports: each port's rate and which
// sentence groups it streams. Changed by the board's thread, read from any.
#pragma once

#include <cstddef>
#include <mutex>

namespace receiver {

// Port A is the board's serial line; port B has no line in the simulation.
enum class ReceiverPort { A, B };

struct PortSetup {
    unsigned rate = 0;
    bool positionSentences = false;   // GGA and RMC
    bool satelliteSentences = false;  // GSA and the GSV set
};

class PortSettings {
public:
    // Port B's rate when the firmware starts; the options set only port A's.
    static constexpr unsigned kPortBStartRate = 4800;

    // The settings the firmware starts with.
    void Reset(unsigned rateA, bool streams);

    PortSetup Get(ReceiverPort port) const;
    void SetRate(ReceiverPort port, unsigned rate);
    void SetStreams(ReceiverPort port, bool position, bool satellites, bool on);

private:
    static constexpr size_t kPorts = 2;

    static size_t Index(ReceiverPort port) { return static_cast<size_t>(port); }

    mutable std::mutex m_mutex;
    PortSetup m_ports[kPorts];
};

} // namespace receiver
