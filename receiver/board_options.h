// How a simulated board is set up when it starts.
#pragma once

#include <chrono>
#include <string>

namespace receiver {

// What the board's processor is running. The boot loader and the secondary
// loader join these when the board learns to take uploads.
enum class BoardMode {
    Command,   // the firmware: query sentences and the position stream
    Pfl,       // the resident loader waiting for a host at its fixed rate
};

struct BoardOptions {
    std::string deviceDir = "/dev";
    std::string deviceName = "gps1";
    std::string flashImage;               // empty: a blank (erased) flash
    unsigned commandRate = 4800;          // one of the command rates
    BoardMode mode = BoardMode::Command;
    bool stream = true;                   // position sentences in command mode
    std::chrono::milliseconds streamPeriod{1000};
    bool pace = false;                    // bytes take their wire time
    bool pflComma = false;                // PFL memory replies put ',' after the address, not ':'
    std::string receiverId = "VMS-1";
};

} // namespace receiver
