#include "tests/support/image_files.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmor::test {

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), std::streamsize(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const Bytes& content)
{
    WriteFile(path, std::string(content.begin(), content.end()));
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes PatternBytes(size_t size, uint32_t seed)
{
    Bytes out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return out;
}

std::string S3Line(uint32_t address, const Bytes& data)
{
    const unsigned count = unsigned(data.size()) + 5;
    unsigned sum = count + (address >> 24) + (address >> 16 & 0xFF) + (address >> 8 & 0xFF) + (address & 0xFF);
    char buf[16];
    std::snprintf(buf, sizeof buf, "S3%02X%08X", count, address);
    std::string line = buf;
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", ~sum & 0xFF);
    return line + buf;
}

Bytes BinaryImage(size_t size, uint32_t fwEndOffset)
{
    Bytes image = PatternBytes(size);
    const uint32_t words[2] = {0x10004000, 0x10000000 + fwEndOffset};
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < 4; ++i)
            if (size_t(0x4020 + 4 * w + i) < image.size())
                image[0x4020 + 4 * w + i] = uint8_t(words[w] >> (8 * i));
    return image;
}

Bytes FrameData(const RecordInfo& record)
{
    // Frame: [ W W addr(4) data... (pad) csum csum ]
    return Bytes(record.frame.begin() + 7, record.frame.begin() + 7 + record.dataCount);
}

} // namespace velmor::test
