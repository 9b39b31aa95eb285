// Motorola S-record text for a block of bytes: an S0 header, S3 data lines of
// 32 bytes (78 characters, the longest line the loader reads) and an S7 entry.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace receiver {

inline constexpr size_t kSRecordDataBytes = 32;

// Lines end in LF. The header is cut to what fits in one line.
std::string SRecordText(std::span<const uint8_t> data, uint32_t address, uint32_t entry, std::string_view header);

} // namespace receiver
