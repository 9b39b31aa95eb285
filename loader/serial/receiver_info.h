// What the last detection learnt of the receiver: its rate, its mode and the
// two flash sections it carries.
#pragma once

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
};

inline constexpr uint32_t kPfldStart = 0x10000000;
inline constexpr uint32_t kPfldLimit = 0x10004000;
inline constexpr uint32_t kFwStart = 0x10004000;
inline constexpr uint32_t kFwLimit = 0x10104000;

} // namespace velmor
