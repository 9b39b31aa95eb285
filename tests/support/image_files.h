// Writing test images and collecting what a reader hands out as upload records.
#pragma once

#include "loader/image/upload_record.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmor::test {

using Bytes = std::vector<uint8_t>;

void WriteFile(const std::string& path, const std::string& content);
void WriteFile(const std::string& path, const Bytes& content);
Bytes ReadFile(const std::string& path);

// Deterministic filler, so a failing byte can be told from its neighbours.
Bytes PatternBytes(size_t size, uint32_t seed = 1);

// One valid S3 line (no line end) for the given address and data.
std::string S3Line(uint32_t address, const Bytes& data);

// A binary image: `size` bytes of pattern, with the FW header at 0x4020
// (start 0x10004000, end 0x10000000 + fwEndOffset).
Bytes BinaryImage(size_t size, uint32_t fwEndOffset);

struct RecordInfo {
    uint32_t address = 0;
    uint16_t dataCount = 0;
    Bytes frame;
};

// Calls readNext until a record with data count 0 (included) or a failure.
// Returns false on a failure; gives up after `limit` records.
template <typename Reader>
bool ReadAllRecords(Reader& reader, std::vector<RecordInfo>& out, size_t limit = 100000)
{
    UploadRecord record;
    for (size_t i = 0; i < limit; ++i) {
        if (!reader.ReadNextBlock(record))
            return false;
        out.push_back({record.Address(), record.DataCount(),
                       Bytes(record.Frame(), record.Frame() + record.WireLength())});
        if (record.DataCount() == 0)
            return true;
    }
    return false;
}

// The data bytes of a finalised data record's frame.
Bytes FrameData(const RecordInfo& record);

} // namespace velmor::test
