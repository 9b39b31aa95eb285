// How a simulated board is set up when it starts.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace receiver {

// What the board's processor is running.
enum class BoardMode {
    Command,   // the firmware: query and set sentences, and the position stream
    Pfl,       // the resident loader (PFLD) at its fixed rate: short sentences, polls, the SFLD upload
    Sfld,      // the uploaded secondary loader, running from RAM; never a start mode
};

struct BoardOptions {
    std::string deviceDir = "/dev";
    std::string deviceName = "gps1";
    std::string flashImage;               // empty: a blank (erased) flash, and uploads are not saved
    unsigned commandRate = 4800;          // one of the command rates: port A's rate at start-up
    BoardMode mode = BoardMode::Command;
    bool stream = true;                   // both ports' sentence groups on at start-up
    std::chrono::milliseconds streamPeriod{1000};
    bool pace = false;                    // bytes take their wire time
    bool pflComma = false;                // PFL memory replies put ',' after the address, not ':'
    std::string receiverId = "VMS-1";

    uint8_t sfldTypeId = 0x01;                       // the SFLD's answer to the type query
    // REC_WAIT_CODE repeats while a loader waits for a frame. Those held before
    // an acknowledgement (the flood and lost-acknowledgement faults) come no
    // closer than 20 ms, so that a loader's resend never meets one.
    std::chrono::milliseconds recWaitInterval{50};
    std::chrono::milliseconds frameTimeout{2000};    // a frame must be whole this soon after its start mark
    std::chrono::milliseconds sectorEraseTime{3};    // per flash sector
};

} // namespace receiver
