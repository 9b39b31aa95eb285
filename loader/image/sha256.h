// SHA-256 of a byte string, so a log and a report can name exactly which
// image went to a receiver.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmor {

using Sha256Digest = std::array<uint8_t, 32>;

Sha256Digest Sha256(const uint8_t* data, size_t length);
// Lower-case hexadecimal, 64 characters.
std::string ToHex(const Sha256Digest& digest);

} // namespace velmor
