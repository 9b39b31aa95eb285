// A set sentence the firmware takes ("$PKVRS,..."), decoded, and the line
// that acknowledges it.
#pragma once

#include "receiver/port_settings.h"

#include <string>
#include <string_view>

namespace receiver {

struct SettingSentence {
    enum class Kind {
        Streams,           // NME: a port's sentence groups on or off
        Rate,              // SPD: a port's rate
        NavigationReset,   // INI: the fix starts over; no setting changes
    };

    Kind kind = Kind::NavigationReset;
    ReceiverPort port = ReceiverPort::A;
    bool position = false;     // Streams: the switch covers GGA and RMC
    bool satellites = false;   // Streams: the switch covers GSA and GSV
    bool on = false;
    unsigned rateCode = 0;     // Rate: as sent
    unsigned rate = 0;         // Rate: in baud

    // From a sentence body ("PKVRS,..." without '$' or checksum). False for
    // another talker, an unknown setting or a field the firmware cannot take;
    // such sentences are ignored, as the receiver does.
    static bool Parse(std::string_view body, SettingSentence& setting);

    // The acknowledgement: the setting as understood, under the reply talker,
    // with its checksum and line end.
    std::string Acknowledgement() const;
};

} // namespace receiver
