// Lets bytes pass no faster than a serial line would carry them. Deadlines
// advance by whole byte times, so waking late never makes the line slower.
#pragma once

#include <chrono>

namespace receiver {

class WirePacer {
public:
    using Clock = std::chrono::steady_clock;

    // True when a byte at `baud` may pass at `now`; it is then counted.
    bool TryPass(Clock::time_point now, unsigned baud);
    // When the next byte may pass; a wait shorter than kMinWait is stretched
    // to it, so fast lines are served in small batches, not byte by byte.
    Clock::time_point NextDue(Clock::time_point now) const;

private:
    // Credit an idle line may build up; keeps the first bytes after a pause
    // from going out as one burst.
    static constexpr std::chrono::microseconds kMaxCredit{2000};
    static constexpr std::chrono::microseconds kMinWait{500};

    Clock::time_point m_next{};
};

} // namespace receiver
