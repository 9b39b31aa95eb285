// The section checksum of flash images: XOR of little-endian 32-bit words.
#pragma once

#include <cstdint>
#include <span>

namespace receiver {

// A last incomplete word counts with zeros in its missing high bytes.
inline uint32_t XorWords(std::span<const uint8_t> bytes)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        sum ^= uint32_t(bytes[i]) << (8 * (i % 4));
    return sum;
}

} // namespace receiver
