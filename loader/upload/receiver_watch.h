// How long one upload waits on a receiver that has stopped answering, how
// often it tries again, and why its last attempt failed.
#pragma once

#include "loader/log/outcome.h"
#include "platform/serial_line.h"

#include <chrono>
#include <string>

namespace velmor {

struct UploadLimits {
    std::chrono::milliseconds silence {30000};       // without a byte the step waits for
    std::chrono::milliseconds versionPoll {10000};   // SFLD version polls without "$VER"
    int attempts = 5;                                 // failed attempts before giving up
};

// Runs on the line's clock, so a scripted line's virtual time counts too.
class ReceiverWatch {
public:
    using Clock = platform::SerialLine::Clock;

    ReceiverWatch(const UploadLimits& limits, const platform::SerialLine& line)
        : m_limits(limits), m_line(&line), m_lastLife(line.Now())
    {
    }

    const UploadLimits& Limits() const { return m_limits; }
    // The receiver sent what the step was waiting for: it is there.
    void Alive() { m_lastLife = m_line->Now(); }
    // Nothing the steps wait for has come for the whole silence limit; foreign
    // bytes do not count, so a chattering line ends the wait too.
    bool Silent() const { return m_line->Now() - m_lastLife >= m_limits.silence; }

    // Remembers why this attempt failed: the kind, the receiver's error byte
    // when it sent one, and the words of the line that gives up.
    void Failed(Fault fault, std::wstring text, uint8_t code = 0)
    {
        m_lastFault = fault;
        m_lastCode = code;
        m_lastFailure = std::move(text);
    }
    Fault LastFault() const { return m_lastFault; }
    uint8_t LastCode() const { return m_lastCode; }
    const std::wstring& LastFailure() const { return m_lastFailure; }

private:
    UploadLimits m_limits;
    const platform::SerialLine* m_line;
    Clock::time_point m_lastLife;
    Fault m_lastFault = Fault::None;
    uint8_t m_lastCode = 0;
    std::wstring m_lastFailure;
};

// Shown when a wait ends because the receiver stopped answering.
inline constexpr const wchar_t* kNoAnswerText = L"No answer from the receiver.";

} // namespace velmor
