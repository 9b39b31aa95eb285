// Sentence checks for the board tests.
#include "tests/receiver/nmea_check.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace receiver::test {
namespace {

std::string ChecksumHex(const std::string& text, size_t from, size_t to)
{
    unsigned sum = 0;
    for (size_t i = from; i < to; ++i)
        sum ^= uint8_t(text[i]);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return hex;
}

} // namespace

bool ValidNmeaLine(const std::string& line)
{
    if (line.size() < 6 || line.front() != '$' || line.compare(line.size() - 2, 2, "\r\n") != 0)
        return false;
    const size_t star = line.size() - 5;
    return line[star] == '*' && line.compare(star + 1, 2, ChecksumHex(line, 1, star)) == 0;
}

std::string LineWithChecksum(const std::string& body)
{
    return "$" + body + "*" + ChecksumHex(body, 0, body.size()) + "\r\n";
}

std::string Field(const std::string& line, size_t index)
{
    std::vector<std::string> fields(1);
    for (char c : line.substr(0, line.find('*'))) {
        if (c == ',')
            fields.emplace_back();
        else if (c != '$' && c != '\r' && c != '\n')
            fields.back().push_back(c);
    }
    return index < fields.size() ? fields[index] : "";
}

} // namespace receiver::test
