// Upload record framing, worked byte for byte. How records are cut from image
// files (the 2048-byte limit, gaps, carries) is shown in image_source_test.
#include "loader/image/upload_record.h"
#include "tests/support/image_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace velmor {
namespace {

using test::Bytes;

// Appends `data` at `address` to an empty record and finalises it.
std::function<void(UploadRecord&)> Data(uint32_t address, const Bytes& data)
{
    return [=](UploadRecord& r) {
        const std::vector<uint16_t> values(data.begin(), data.end());
        EXPECT_FALSE(r.Append(address, uint16_t(values.size()), values.data()));
        r.Finalise();
    };
}

struct FrameCase {
    const char* legend;
    std::function<void(UploadRecord&)> make;
    Bytes frame;
    uint32_t address;
    uint16_t dataCount;
};

TEST(UploadRecordFrame, WorkedExamplesByteForByte)
{
    const FrameCase cases[] = {
        {"three bytes, odd payload padded", Data(0x10000000, {0x01, 0x02, 0x03}),
         {0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x12, 0x02, 0x5D}, 0x10000000, 3},
        {"abc", Data(0x10000000, {0x61, 0x62, 0x63}),
         {0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63, 0x00, 0x12, 0x62, 0x5D}, 0x10000000, 3},
        {"no data: address only", Data(0x10000000, {}),
         {0x5B, 0x00, 0x02, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x5D}, 0x10000000, 0},
        {"even payload, no pad", Data(0x12345678, {0xAA, 0xBB}),
         {0x5B, 0x00, 0x03, 0x12, 0x34, 0x56, 0x78, 0xAA, 0xBB, 0x12 ^ 0x56 ^ 0xAA, 0x34 ^ 0x78 ^ 0xBB, 0x5D},
         0x12345678, 2},
        {"nothing appended", [](UploadRecord& r) { r.Finalise(); }, {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}, 0, 0},
        {"erase range", [](UploadRecord& r) { r.MakeRangeRecord(0x10000000, 0x10004000); },
         {0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x40, 0x00, 0x40, 0x00, 0x5D}, 0x10000000, 0},
        // The end record replaces whatever frame the record held.
        {"end after a range",
         [](UploadRecord& r) {
             r.MakeRangeRecord(0x10000000, 0x10004000);
             r.MakeEndRecord();
         },
         {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}, 0, 0},
    };
    for (const auto& c : cases) {
        UploadRecord r;
        r.Reset();
        c.make(r);
        EXPECT_EQ(Bytes(r.Frame(), r.Frame() + r.WireLength()), c.frame) << c.legend;
        EXPECT_EQ(r.Address(), c.address) << c.legend;
        EXPECT_EQ(r.DataCount(), c.dataCount) << c.legend;
    }
}

} // namespace
} // namespace velmor
