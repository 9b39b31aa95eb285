// How long one upload waits on a receiver that has stopped answering, how
// often it tries again, and why its last attempt failed.
#pragma once

#include <chrono>
#include <string>

namespace velmor {

struct UploadLimits {
    std::chrono::milliseconds silence {30000};       // without a byte the step waits for
    std::chrono::milliseconds versionPoll {10000};   // SFLD version polls without "$VER"
    int attempts = 5;                                 // failed attempts before giving up
};

class ReceiverWatch {
public:
    using Clock = std::chrono::steady_clock;

    explicit ReceiverWatch(const UploadLimits& limits = {}) : m_limits(limits), m_lastLife(Clock::now()) {}

    const UploadLimits& Limits() const { return m_limits; }
    // The receiver sent what the step was waiting for: it is there.
    void Alive() { m_lastLife = Clock::now(); }
    // Nothing the steps wait for has come for the whole silence limit; foreign
    // bytes do not count, so a chattering line ends the wait too.
    bool Silent() const { return Clock::now() - m_lastLife >= m_limits.silence; }

    // Remembers why this attempt failed, for the line that gives up.
    void Failed(std::wstring reason) { m_lastFailure = std::move(reason); }
    const std::wstring& LastFailure() const { return m_lastFailure; }

private:
    UploadLimits m_limits;
    Clock::time_point m_lastLife;
    std::wstring m_lastFailure;
};

// Shown when a wait ends because the receiver stopped answering.
inline constexpr const wchar_t* kNoAnswerText = L"No answer from the receiver.";

} // namespace velmor
