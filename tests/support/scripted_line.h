// An in-memory serial line with virtual time for the engine's tests: it plays
// the receiver's side from a table of steps and checks every byte the loader
// sends against it. Waits cost no real time, so silence is cheap to test.
#pragma once

#include "platform/serial_line.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace velmor::test {

class ScriptedLine : public platform::SerialLine {
public:
    struct Step {
        std::string expect {};               // what the loader must send next ("" : nothing)
        std::string answer {};               // what the receiver then sends
        std::chrono::milliseconds delay {0}; // from the last expected byte to the answer
        int repeat = 1;                      // the answer again, `delay` apart (chatter)
    };

    explicit ScriptedLine(std::vector<Step> script = {});

    // Appends steps; those without an expectation answer at once.
    void Add(std::vector<Step> steps);
    // Bytes sent past the last step are kept in Sent() but are no failure.
    void AllowMore() { m_allowMore = true; }

    int Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait) override;
    int Write(const uint8_t* bytes, size_t length) override;
    bool SetSpeed(uint32_t baud) override;
    void Purge() override;
    void Drain() override {}
    bool TakeLineErrors(uint32_t& flags) override;
    void Pause(std::chrono::milliseconds duration) override { m_now += duration; }
    Clock::time_point Now() const override { return m_now; }

    // Everything the loader sent, and the rates it set, in order.
    const std::string& Sent() const { return m_sent; }
    const std::vector<uint32_t>& Speeds() const { return m_speeds; }
    // True when every step's expectation was met; mismatches are test failures.
    bool Done() const { return m_step == m_script.size() && m_expected == 0; }
    std::chrono::milliseconds Elapsed() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_now - m_start);
    }
    // Line errors the next TakeLineErrors reports; the line then keeps counters.
    void RaiseLineErrors(uint32_t flags) { m_errors |= flags; m_counters = true; }
    // From now on every read and write fails and the line is gone, as a
    // pulled-out adapter.
    void Vanish() { m_vanished = true; }
    // From now on the peer takes no byte: each write takes nothing during
    // the driver's wait of 100 ms.
    void Stall() { m_stalled = true; }
    // From now on every write fails, though the line is not known to be gone.
    void FailWrites() { m_failWrites = true; }
    bool Gone() const override { return m_vanished; }
    std::string Name() const override { return "scripted"; }

private:
    struct Arrival {
        Clock::time_point at;
        uint8_t byte;
    };

    void Advance();   // schedules the answers of steps whose expectation is met
    void Schedule(const Step& step);

    std::vector<Step> m_script;
    size_t m_step = 0;
    size_t m_expected = 0;   // bytes of the current step's expectation already seen
    std::deque<Arrival> m_input;
    std::string m_sent;
    std::vector<uint32_t> m_speeds;
    Clock::time_point m_start {std::chrono::hours(1)};
    Clock::time_point m_now = m_start;
    uint32_t m_errors = 0;
    bool m_counters = false;
    bool m_vanished = false;
    bool m_stalled = false;
    bool m_failWrites = false;
    bool m_failed = false;
    bool m_allowMore = false;
};

} // namespace velmor::test
