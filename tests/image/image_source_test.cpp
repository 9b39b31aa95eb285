// The image source: type by content, and images made by outside tools.
#include "loader/image/image_source.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace velmor {
namespace {

using test::Bytes;
using test::RecordInfo;

void RunTool(const std::string& command)
{
    ASSERT_EQ(std::system((command + " 2>&1").c_str()), 0) << command;
}

class ImageSourceFile : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const Bytes& content)
    {
        const std::string path = m_dir.File(name);
        test::WriteFile(path, content);
        return path;
    }
    std::string Write(const std::string& name, const std::string& content)
    {
        return Write(name, Bytes(content.begin(), content.end()));
    }

    // Opens, analyses and reads the whole image; fails the test on any false.
    std::vector<RecordInfo> ReadAll(const std::string& path, ImageType expected)
    {
        std::vector<RecordInfo> records;
        EXPECT_TRUE(m_source.Open(path.c_str())) << path;
        EXPECT_EQ(m_source.Type(), expected) << path;
        EXPECT_TRUE(m_source.Analyse()) << path;
        m_source.Rewind();
        EXPECT_TRUE(test::ReadAllRecords(m_source, records)) << path;
        return records;
    }

    static void ExpectBytesAt(const std::vector<RecordInfo>& records, const Bytes& expected, size_t count)
    {
        const auto flat = test::FlattenRecords(records);
        ASSERT_EQ(flat.size(), count);
        for (size_t k = 0; k < count; ++k)
            ASSERT_EQ(flat.at(uint32_t(0x10000000 + k)), expected[k]) << "offset " << k;
    }

    test::TempDir m_dir;
    ImageSource m_source;
};

TEST_F(ImageSourceFile, ObjcopyAndSrecCatImagesCarryTheSourceBytes)
{
    // Not a multiple of 32 or 24, so the last line of each is short.
    const Bytes image = test::BinaryImage(0x9000 + 13, 0x8FF0);
    const std::string bin = Write("source.bin", image);
    const std::string viaObjcopy = m_dir.File("objcopy.srec");
    const std::string viaSrecCat = m_dir.File("srec_cat.s37");
    // objcopy writes the output file's name into the S0 line; a short relative
    // name keeps that line inside the 78-character limit.
    RunTool("cd " + m_dir.Path() + " && " + OBJCOPY_PROGRAM + " -I binary -O srec --srec-forceS3 --srec-len=32"
            " --change-addresses=0x10000000 source.bin objcopy.srec");
    RunTool("cd " + m_dir.Path() + " && " + SREC_CAT_PROGRAM + " source.bin -binary -offset 0x10000000"
            " -o srec_cat.s37 -motorola -address-length=4 -output_block_size=24 -execution-start-address=0x10000000");

    for (const std::string& path : {viaObjcopy, viaSrecCat}) {
        SCOPED_TRACE(path);
        const auto records = ReadAll(path, ImageType::MotorolaSRecord);
        EXPECT_EQ(m_source.StartAddress(), 0x10000000u);
        EXPECT_EQ(m_source.EntryPoint(), 0x10000000u);
        EXPECT_EQ(m_source.Size(), image.size());   // the erase range covers the last byte
        ExpectBytesAt(records, image, image.size());
        for (size_t i = 0; i + 2 < records.size(); ++i)
            EXPECT_EQ(records[i].dataCount, 2048) << i;
        m_source.Close();
    }

    // The same binary through the binary reader stops at the FW end address.
    const auto records = ReadAll(bin, ImageType::Binary);
    EXPECT_EQ(m_source.Size(), 0x8FF0u);
    ExpectBytesAt(records, image, 0x8FF0);
}

TEST_F(ImageSourceFile, TypeFollowsContentNotName)
{
    const std::string srecText = test::S3Line(0x10000000, {1, 2, 3}) + "\nS70510000000EA\n";
    ASSERT_TRUE(m_source.Open(Write("looks-binary.bin", srecText).c_str()));
    EXPECT_EQ(m_source.Type(), ImageType::MotorolaSRecord);
    EXPECT_STREQ(ImageTypeName(m_source.Type()), "Motorola S-Record");

    ASSERT_TRUE(m_source.Open(Write("looks-text.s19", test::BinaryImage(0x5000, 0x4800)).c_str()));
    EXPECT_EQ(m_source.Type(), ImageType::Binary);
    EXPECT_STREQ(ImageTypeName(m_source.Type()), "Binary");
    EXPECT_TRUE(m_source.Analyse());

    // Text whose first line is not an S-record is taken as binary, and then fails analysis.
    ASSERT_TRUE(m_source.Open(Write("notes.txt", std::string("hello\nS70510000000EA\n")).c_str()));
    EXPECT_EQ(m_source.Type(), ImageType::Binary);
    EXPECT_FALSE(m_source.Analyse());

    // A valid first line but a broken later one: S-record, and the analysis fails.
    ASSERT_TRUE(m_source.Open(Write("broken.s19", srecText + "S3zz\n").c_str()));
    EXPECT_EQ(m_source.Type(), ImageType::MotorolaSRecord);
    EXPECT_FALSE(m_source.Analyse());

    EXPECT_FALSE(m_source.Open(m_dir.File("missing.bin").c_str()));
}

TEST_F(ImageSourceFile, EmptyFileIsAnEmptySRecordImage)
{
    const auto records = ReadAll(Write("empty.bin", std::string()), ImageType::MotorolaSRecord);
    EXPECT_EQ(m_source.StartAddress(), 0xFFFFFFFFu);
    EXPECT_EQ(m_source.Size(), 1u);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].dataCount, 0);
}

TEST_F(ImageSourceFile, ReopeningSwitchesReaders)
{
    const std::string bin = Write("a.bin", test::BinaryImage(0x5000, 0x4100));
    const std::string srec = Write("b.srec", test::S3Line(0x10000000, {7, 8}) + "\n");
    for (int round = 0; round < 2; ++round) {
        auto records = ReadAll(bin, ImageType::Binary);
        EXPECT_EQ(m_source.Size(), 0x4100u);
        records = ReadAll(srec, ImageType::MotorolaSRecord);
        EXPECT_EQ(m_source.Size(), 2u);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(test::FrameData(records[0]), (Bytes{7, 8}));
    }
}

TEST_F(ImageSourceFile, ExposesTheOpenBinaryFile)
{
    ASSERT_TRUE(m_source.Open(Write("a.bin", test::BinaryImage(0x5000, 0x4100)).c_str()));
    ASSERT_NE(m_source.BinaryFile(), nullptr);
    ASSERT_TRUE(m_source.Analyse());
    // Whatever the checks do to the position, Rewind starts the records at the base.
    std::fseek(m_source.BinaryFile(), 0x1234, SEEK_SET);
    m_source.Rewind();
    UploadRecord r;
    ASSERT_TRUE(m_source.ReadNextBlock(r));
    EXPECT_EQ(r.Address(), 0x10000000u);
    EXPECT_EQ(r.DataCount(), 2048);
}

} // namespace
} // namespace velmor
