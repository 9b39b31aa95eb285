// A serial line as the loader's engine sees it: bytes in and out with waits,
// the speed, purge and drain, line errors, and the clock its waits run on.
// The termios port implements it; tests put a scripted line in its place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class SerialLine {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~SerialLine() = default;

    // Waits up to `wait` for a first byte, then takes what follows until the
    // line goes quiet or `max` bytes came: the count, 0 when nothing came, -1
    // when the line failed (for example it vanished).
    virtual int Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait) = 0;
    // What the driver takes now: the count, 0 when it took nothing within a
    // short wait, -1 on failure.
    virtual int Write(const uint8_t* bytes, size_t length) = 0;
    // False when the driver refuses the rate.
    virtual bool SetSpeed(uint32_t baud) = 0;
    virtual void Purge() = 0;   // drop pending input and output
    virtual void Drain() = 0;   // wait until pending output has left
    // Line-error flags raised since the last call, cleared by reading. False
    // when the driver keeps no counters.
    virtual bool TakeLineErrors(uint32_t& flags) = 0;

    virtual void Pause(std::chrono::milliseconds duration) = 0;
    virtual Clock::time_point Now() const = 0;

    // True once the line has gone for good (an adapter pulled out, a closed
    // connection): no wait on it can bring a byte any more.
    virtual bool Gone() const { return false; }
    // What the line is, for messages: a device path or a network port.
    virtual std::string Name() const { return {}; }
    // What the user could do to make the line work better, found when it
    // opened (a slow USB adapter); empty when nothing.
    virtual std::string Advice() const { return {}; }
};

} // namespace platform
