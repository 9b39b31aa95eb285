// Where things sit in the receiver's flash: the PFLD and FW sections, their
// headers and version texts. Shared by the simulated board and the image tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace receiver {

inline constexpr uint32_t kFlashBase = 0x10000000;
inline constexpr uint32_t kFlashSize = 0x200000;
inline constexpr uint8_t kErasedByte = 0xFF;

inline constexpr uint32_t kPfldStart = kFlashBase;
inline constexpr uint32_t kPfldLimit = 0x10004000;   // the PFLD section ends below this
inline constexpr uint32_t kFwStart = 0x10004000;
inline constexpr uint32_t kFwLimit = 0x10104000;     // the FW section ends below this
inline constexpr uint32_t kSectorSize = 0x4000;      // the unit of erasing

// Each section: its own start address at +0x20, its end address at +0x24, and
// its checksum word stored at the end address.
inline constexpr uint32_t kHeaderStartOffset = 0x20;
inline constexpr uint32_t kHeaderEndOffset = 0x24;
inline constexpr uint32_t kHeaderSize = 0x28;

// Sections open with an ARM load into pc; the image check wants 0xE5 on top.
inline constexpr uint32_t kSectionFirstWord = 0xE59FF018;
inline constexpr uint8_t kSectionFirstWordTop = 0xE5;

// Both version texts live in the 32 bytes just before their section's checksum
// word. The PFLD's is "PFLD v<major>.<minor>"; the loader finds it by the
// last "v<digit>" there. The FW's is kFwVersionMarker followed by the text and
// a NUL: the board answers the identification query with that text.
inline constexpr uint32_t kVersionAreaSize = 32;
inline constexpr std::string_view kFwVersionMarker = "FWVER=";
inline constexpr size_t kMaxFwVersionLength = kVersionAreaSize - kFwVersionMarker.size() - 1;

} // namespace receiver
