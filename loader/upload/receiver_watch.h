// How long one upload waits on a receiver that has stopped answering, how
// often it tries again, and why its last attempt failed.
#pragma once

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

    // Remembers why this attempt failed, for the line that gives up.
    void Failed(std::wstring reason) { m_lastFailure = std::move(reason); }
    const std::wstring& LastFailure() const { return m_lastFailure; }

private:
    UploadLimits m_limits;
    const platform::SerialLine* m_line;
    Clock::time_point m_lastLife;
    std::wstring m_lastFailure;
};

// Shown when a wait ends because the receiver stopped answering.
inline constexpr const wchar_t* kNoAnswerText = L"No answer from the receiver.";

} // namespace velmor
