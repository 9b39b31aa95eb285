// Binary images: the size taken from the FW header, records of 2048 bytes.
#include "loader/image/binary_image_reader.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace velmor {
namespace {

using test::Bytes;
using test::RecordInfo;

class BinaryFile : public ::testing::Test {
protected:
    BinaryImageReader& Open(const Bytes& content)
    {
        const std::string path = m_dir.File("image.bin");
        test::WriteFile(path, content);
        EXPECT_TRUE(m_reader.Open(path.c_str()));
        return m_reader;
    }

    test::TempDir m_dir;
    BinaryImageReader m_reader;
};

TEST_F(BinaryFile, SizeMultipleOf2048)
{
    // FW end 0x10010000: 32 records of 2048 bytes, then an empty one at 0x10010000.
    const Bytes image = test::BinaryImage(0x10000 + 4 + 100, 0x10000);
    auto& reader = Open(image);
    ASSERT_TRUE(reader.Analyse());
    EXPECT_EQ(reader.StartAddress(), 0x10000000u);
    EXPECT_EQ(reader.EntryPoint(), 0x10000000u);
    EXPECT_EQ(reader.Size(), 0x10000u);
    reader.Rewind();

    std::vector<RecordInfo> records;
    ASSERT_TRUE(test::ReadAllRecords(reader, records));
    ASSERT_EQ(records.size(), 33u);
    for (size_t i = 0; i < 32; ++i) {
        EXPECT_EQ(records[i].address, 0x10000000u + 2048 * i);
        EXPECT_EQ(records[i].dataCount, 2048);
    }
    EXPECT_EQ(records[32].address, 0x10010000u);
    EXPECT_EQ(records[32].dataCount, 0);
    EXPECT_EQ(records[32].frame, (Bytes{0x5B, 0x00, 0x02, 0x10, 0x01, 0x00, 0x00, 0x10, 0x01, 0x5D}));

    const auto flat = test::FlattenRecords(records);
    ASSERT_EQ(flat.size(), 0x10000u);   // the checksum word at offset size is not delivered
    for (uint32_t k = 0; k < 0x10000; ++k)
        ASSERT_EQ(flat.at(0x10000000 + k), image[k]) << k;

    // After the end it keeps answering with empty records.
    UploadRecord r;
    EXPECT_TRUE(reader.ReadNextBlock(r));
    EXPECT_EQ(r.DataCount(), 0);
}

TEST_F(BinaryFile, SizeNotMultipleOf2048)
{
    const Bytes image = test::BinaryImage(0x6000, 0x4804);
    auto& reader = Open(image);
    ASSERT_TRUE(reader.Analyse());
    reader.Rewind();
    std::vector<RecordInfo> records;
    ASSERT_TRUE(test::ReadAllRecords(reader, records));
    ASSERT_EQ(records.size(), 11u);
    EXPECT_EQ(records[9].address, 0x10000000u + 9 * 2048);
    EXPECT_EQ(records[9].dataCount, 0x4804 - 9 * 2048);
    EXPECT_EQ(test::FrameData(records[9]), Bytes(image.begin() + 9 * 2048, image.begin() + 0x4804));
}

TEST_F(BinaryFile, FileShorterThanItsSize)
{
    const Bytes image = test::BinaryImage(0x4830, 0x20000);
    auto& reader = Open(image);
    ASSERT_TRUE(reader.Analyse());
    EXPECT_EQ(reader.Size(), 0x20000u);
    reader.Rewind();
    std::vector<RecordInfo> records;
    ASSERT_TRUE(test::ReadAllRecords(reader, records));
    ASSERT_EQ(records.size(), 11u);
    EXPECT_EQ(records[9].dataCount, 0x30);
    EXPECT_EQ(test::FlattenRecords(records).size(), image.size());
}

TEST_F(BinaryFile, AnalyseRejects)
{
    // Too short to hold the FW header words, or a wrong FW start.
    EXPECT_FALSE(Open(test::BinaryImage(0x4027, 0x5000)).Analyse());
    EXPECT_FALSE(Open(Bytes(0x5000, 0)).Analyse());
    EXPECT_FALSE(Open(Bytes()).Analyse());
    BinaryImageReader closed;
    EXPECT_FALSE(closed.Analyse());
    EXPECT_EQ(closed.StartAddress(), 0x10000000u);
    uint32_t count = 99;
    uint8_t buf[4];
    EXPECT_EQ(closed.ReadBytes(buf, 4, count), ReadResult::Error);
    EXPECT_EQ(count, 0u);
    UploadRecord r;
    EXPECT_FALSE(closed.ReadNextBlock(r));
}

TEST_F(BinaryFile, ReadBytesNeverPassesSize)
{
    auto& reader = Open(test::BinaryImage(0x5000, 0x4801));
    ASSERT_TRUE(reader.Analyse());
    reader.Rewind();
    uint8_t buf[0x5000];
    uint32_t count = 0;
    EXPECT_EQ(reader.ReadBytes(buf, 0x4800, count), ReadResult::Data);
    EXPECT_EQ(count, 0x4800u);
    EXPECT_EQ(reader.ReadBytes(buf, 0x100, count), ReadResult::Data);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(reader.ReadBytes(buf, 0x100, count), ReadResult::EndOfFile);
    EXPECT_EQ(count, 0u);
}

} // namespace
} // namespace velmor
