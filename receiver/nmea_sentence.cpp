// Sentence checksums, framing and fields.
#include "receiver/nmea_sentence.h"

#include <cstdio>

namespace receiver {
namespace {

constexpr size_t kChecksumDigits = 2;
constexpr size_t kMaxHexDigits = 8;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

uint8_t NmeaChecksum(std::string_view body)
{
    uint8_t sum = 0;
    for (char c : body)
        sum ^= uint8_t(c);
    return sum;
}

std::string NmeaLine(std::string_view body)
{
    char checksum[4];
    std::snprintf(checksum, sizeof checksum, "%02X", NmeaChecksum(body));
    std::string line;
    line.reserve(body.size() + 6);
    line += kSentenceStart;
    line += body;
    line += kChecksumMark;
    line += checksum;
    line += kLineEnd;
    return line;
}

bool SentenceBody(std::string_view line, std::string_view& body)
{
    if (line.empty() || line.front() != kSentenceStart)
        return false;
    line.remove_prefix(1);
    const size_t mark = line.find(kChecksumMark);
    if (mark == std::string_view::npos) {
        body = line;
        return true;
    }
    uint32_t stated = 0;
    const std::string_view digits = line.substr(mark + 1);
    if (digits.size() != kChecksumDigits || !ParseHex32(digits, stated))
        return false;
    body = line.substr(0, mark);
    return stated == NmeaChecksum(body);
}

std::vector<std::string_view> SplitFields(std::string_view body)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t comma = body.find(',');
        fields.push_back(body.substr(0, comma));
        if (comma == std::string_view::npos)
            return fields;
        body.remove_prefix(comma + 1);
    }
}

bool ParseHex32(std::string_view text, uint32_t& value)
{
    if (text.empty() || text.size() > kMaxHexDigits)
        return false;
    uint32_t result = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        result = result << 4 | uint32_t(digit);
    }
    value = result;
    return true;
}

} // namespace receiver
