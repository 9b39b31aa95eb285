// Where an uploaded SFLD lives on the board and how its data name its version;
// shared by the simulated board and the image tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace receiver {

inline constexpr uint32_t kRamBase = 0x40000000;
inline constexpr uint32_t kRamSize = 0x40000;

// Anywhere in the SFLD's data: the marker, the version text and a NUL. The
// running SFLD answers the version command with that text, so a test can tell
// which SFLD went up; one without the marker answers kUnmarkedSfldVersion.
inline constexpr std::string_view kSfldVersionMarker = "SFLD-VERSION=";
inline constexpr size_t kMaxSfldVersionLength = 32;
inline constexpr std::string_view kUnmarkedSfldVersion = "SFLD";

} // namespace receiver
