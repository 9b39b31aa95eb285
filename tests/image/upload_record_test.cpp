// Record assembly, carry and framing.
#include "loader/image/upload_record.h"
#include "tests/support/image_files.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmor {
namespace {

using test::Bytes;

Bytes FrameOf(const UploadRecord& r)
{
    return Bytes(r.Frame(), r.Frame() + r.WireLength());
}

std::vector<uint16_t> Values(const Bytes& bytes)
{
    return std::vector<uint16_t>(bytes.begin(), bytes.end());
}

struct FrameCase {
    const char* legend;
    uint32_t address;
    Bytes data;
    Bytes frame;
};

TEST(UploadRecordFrame, WorkedExamplesByteForByte)
{
    const FrameCase cases[] = {
        {"three bytes, odd payload padded", 0x10000000, {0x01, 0x02, 0x03},
         {0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x12, 0x02, 0x5D}},
        {"abc", 0x10000000, {0x61, 0x62, 0x63},
         {0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63, 0x00, 0x12, 0x62, 0x5D}},
        {"no data: address only", 0x10000000, {},
         {0x5B, 0x00, 0x02, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x5D}},
        {"even payload, no pad", 0x12345678, {0xAA, 0xBB},
         {0x5B, 0x00, 0x03, 0x12, 0x34, 0x56, 0x78, 0xAA, 0xBB, 0x12 ^ 0x56 ^ 0xAA, 0x34 ^ 0x78 ^ 0xBB, 0x5D}},
    };
    for (const auto& c : cases) {
        UploadRecord r;
        r.Reset();
        const auto values = Values(c.data);
        EXPECT_FALSE(r.Append(c.address, uint16_t(values.size()), values.data())) << c.legend;
        r.Finalise();
        EXPECT_EQ(FrameOf(r), c.frame) << c.legend;
        EXPECT_EQ(r.DataCount(), c.data.size()) << c.legend;
        EXPECT_EQ(r.Address(), c.address) << c.legend;
    }
}

TEST(UploadRecordFrame, EndAndRangeRecords)
{
    UploadRecord r;
    r.Reset();
    r.Finalise();
    EXPECT_EQ(FrameOf(r), (Bytes{0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));
    EXPECT_EQ(r.DataCount(), 0);

    r.Reset();
    r.MakeRangeRecord(0x10000000, 0x10004000);
    EXPECT_EQ(FrameOf(r), (Bytes{0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x40, 0x00, 0x40, 0x00, 0x5D}));
    EXPECT_EQ(r.Address(), 0x10000000u);

    // The end record replaces whatever frame the record held.
    r.MakeEndRecord();
    EXPECT_EQ(FrameOf(r), (Bytes{0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));
    EXPECT_EQ(r.Address(), 0u);
}

TEST(UploadRecordCarry, GapOrStepBackKeepsWholeInputAsCarry)
{
    const std::vector<uint16_t> first = {1, 2, 3, 4};
    const std::vector<uint16_t> second = {9, 8, 7};
    for (uint32_t next : {0x10000005u, 0x10000003u, 0x0FFFFFFFu}) {
        UploadRecord r;
        r.Reset();
        EXPECT_FALSE(r.Append(0x10000000, 4, first.data()));
        EXPECT_TRUE(r.Append(next, 3, second.data())) << std::hex << next;
        EXPECT_EQ(r.DataCount(), 4);
        ASSERT_TRUE(r.Carry().flag);
        EXPECT_EQ(r.Carry().address, next);
        EXPECT_EQ(r.Carry().number, 3);
        EXPECT_EQ(std::vector<uint16_t>(r.Carry().values, r.Carry().values + 3), second);
    }

    // Nothing to carry: complete, no carry.
    UploadRecord r;
    r.Reset();
    r.Append(0x10000000, 4, first.data());
    EXPECT_TRUE(r.Append(0x20000000, 0, nullptr));
    EXPECT_FALSE(r.Carry().flag);
}

TEST(UploadRecordCarry, LimitOf2048)
{
    const Bytes fill = test::PatternBytes(2040, 3);
    const auto fillValues = Values(fill);
    std::vector<uint16_t> line(24);
    for (int i = 0; i < 24; ++i)
        line[i] = uint16_t(0x100 + i);   // only the low byte is data

    UploadRecord r;
    r.Reset();
    EXPECT_FALSE(r.Append(0x10000000, 2040, fillValues.data()));
    EXPECT_TRUE(r.Append(0x10000000 + 2040, 24, line.data()));
    EXPECT_EQ(r.DataCount(), 2048);
    ASSERT_TRUE(r.Carry().flag);
    EXPECT_EQ(r.Carry().address, 0x10000000u + 2048);
    EXPECT_EQ(r.Carry().number, 16);
    EXPECT_EQ(r.Carry().values[0], line[8]);
    r.Finalise();
    EXPECT_EQ(r.Frame()[7 + 2040], 0x00);
    EXPECT_EQ(r.Frame()[7 + 2047], 0x07);

    // Exactly reaching the limit completes the record without a carry.
    UploadRecord exact;
    exact.Reset();
    exact.Append(0x10000000, 2040, fillValues.data());
    EXPECT_TRUE(exact.Append(0x10000000 + 2040, 8, line.data()));
    EXPECT_FALSE(exact.Carry().flag);

    // A full record takes nothing more, even data that follows on.
    EXPECT_TRUE(exact.Append(0x10000800, 2, line.data()));
    EXPECT_EQ(exact.DataCount(), 2048);
    EXPECT_EQ(exact.Carry().number, 2);
}

TEST(UploadRecordCarry, NoFollowOnAcrossTheTopOfTheAddressSpace)
{
    const std::vector<uint16_t> v = {1, 2, 3, 4};
    UploadRecord r;
    r.Reset();
    r.Append(0xFFFFFFFC, 4, v.data());
    EXPECT_TRUE(r.Append(0x00000000, 4, v.data()));
    EXPECT_EQ(r.DataCount(), 4);
    EXPECT_TRUE(r.Carry().flag);
}

} // namespace
} // namespace velmor
