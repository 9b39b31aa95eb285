// The sentences the firmware streams once a second in command mode: a fixed
// position with the time of day, the satellites used and those in view.
#pragma once

#include <chrono>
#include <string>

namespace receiver {

class PositionStream {
public:
    using SystemClock = std::chrono::system_clock;

    // GGA, GSA, the GSV set and RMC for the given time, each a whole line.
    std::string Burst(SystemClock::time_point when) const;
    // The start of a GGA line with no line end, as when output is cut short.
    std::string CutSentence(SystemClock::time_point when) const;
};

} // namespace receiver
