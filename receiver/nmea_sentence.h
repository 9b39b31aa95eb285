// NMEA-style sentence text: "$<body>*<hh>" lines with an XOR checksum over the body.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace receiver {

inline constexpr char kSentenceStart = '$';
inline constexpr char kChecksumMark = '*';
inline constexpr std::string_view kLineEnd = "\r\n";

uint8_t NmeaChecksum(std::string_view body);

// "$" body "*hh" CR LF.
std::string NmeaLine(std::string_view body);

// The body of a received line ("$body" or "$body*hh", no line end). False when
// the line does not start with '$' or carries a checksum that does not match.
bool SentenceBody(std::string_view line, std::string_view& body);

std::vector<std::string_view> SplitFields(std::string_view body);

// 1 to 8 hex digits, either case, nothing else.
bool ParseHex32(std::string_view text, uint32_t& value);

} // namespace receiver
