// S-record lines with their one's-complement checksums.
#include "receiver/srecord_writer.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace receiver {
namespace {

constexpr size_t kMaxHeaderBytes = 32;

// "S<type>", the byte count, then address and data, then the checksum.
std::string Line(char type, std::span<const uint8_t> addressAndData)
{
    const unsigned count = unsigned(addressAndData.size()) + 1;   // and the checksum byte
    unsigned sum = count;
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", count);
    std::string line = std::string("S") + type + hex;
    for (uint8_t b : addressAndData) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
        sum += b;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFFu);
    return line + hex + "\n";
}

std::vector<uint8_t> BigEndian(uint32_t value, size_t bytes)
{
    std::vector<uint8_t> out;
    for (size_t i = bytes; i-- > 0;)
        out.push_back(uint8_t(value >> (8 * i)));
    return out;
}

} // namespace

std::string SRecordText(std::span<const uint8_t> data, uint32_t address, uint32_t entry, std::string_view header)
{
    std::vector<uint8_t> fields = BigEndian(0, 2);
    header = header.substr(0, std::min(header.size(), kMaxHeaderBytes));
    fields.insert(fields.end(), header.begin(), header.end());
    std::string text = Line('0', fields);

    for (size_t offset = 0; offset < data.size(); offset += kSRecordDataBytes) {
        fields = BigEndian(uint32_t(address + offset), 4);
        const auto chunk = data.subspan(offset, std::min(kSRecordDataBytes, data.size() - offset));
        fields.insert(fields.end(), chunk.begin(), chunk.end());
        text += Line('3', fields);
    }
    return text + Line('7', BigEndian(entry, 4));
}

} // namespace receiver
