// What the last detection learnt of the receiver: its rate, its mode and the
// two flash sections it carries.
#pragma once

#include "loader/image/flash_layout.h"

#include <cstdint>

namespace velmor {

struct SectionInfo {
    uint8_t minor = 0;
    uint8_t major = 0;         // always 0 for the FW section
    char text[9] = {};         // version text as found, NUL-terminated
    uint32_t start = 0;
    uint32_t length = 0;       // 0: the section was not found
    uint32_t crc = 0;          // checksum word stored at the section's end address
};

struct ReceiverInfo {
    SectionInfo fw;
    SectionInfo pfld;
    uint32_t baud = 0;         // rate the receiver answered at; 0 if none
    bool pflMode = false;      // its resident loader answered
    bool connected = false;
    // Nothing answered the queries, but a loader answered SYNC_CODE at 19200:
    // an upload was left unfinished and the receiver waits for the next one.
    bool loaderOnly = false;
};

} // namespace velmor
