// Where the receiver's flash lies on its bus: the PFLD section at its base,
// the FW section after it, and where each section keeps its header words.
#pragma once

#include <cstdint>

namespace velmor {

inline constexpr uint32_t kFlashBase = 0x10000000;   // PFLD section; a binary image's offset 0
inline constexpr uint32_t kFwStart = 0x10004000;     // FW section; the PFLD ends below it
inline constexpr uint32_t kFlashEnd = 0x10104000;    // one past the last flash byte
inline constexpr uint32_t kHeaderOffset = 0x20;      // a section's start word, then its end word

inline constexpr uint32_t kFwOffset = kFwStart - kFlashBase;   // the FW section in a binary image

// Words in flash and in images are little-endian.
inline constexpr uint32_t LittleEndianWord(const uint8_t* b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

} // namespace velmor
