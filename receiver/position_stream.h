// The sentences the firmware streams once a second in command mode: a fixed
// position with the time of day, the satellites used and those in view.
#pragma once

#include <chrono>
#include <string>

namespace receiver {

class PositionStream {
public:
    using SystemClock = std::chrono::system_clock;

    // One second's lines for the given time, each whole: GGA and RMC when
    // `position`, GSA and the GSV set when `satellites`, in the firmware's order.
    std::string Burst(SystemClock::time_point when, bool position = true, bool satellites = true) const;
    // The fix GGA reports, as reply fields: time, date, latitude, N/S,
    // longitude, E/W, altitude, its unit, fix quality, satellites used.
    std::string FixFields(SystemClock::time_point when) const;
    // The start of a GGA line with no line end, as when output is cut short.
    std::string CutSentence(SystemClock::time_point when) const;
};

} // namespace receiver
