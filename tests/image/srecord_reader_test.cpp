// S-record lines, scanning and record assembly from S-record files.
#include "loader/image/srecord_reader.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmor {
namespace {

using test::Bytes;
using test::RecordInfo;

class SRecordFile : public ::testing::Test {
protected:
    // Opens a reader on `text` written to a file.
    SRecordReader& Open(const std::string& text)
    {
        const std::string path = m_dir.File("image.s19");
        test::WriteFile(path, text);
        EXPECT_TRUE(m_reader.Open(path.c_str()));
        return m_reader;
    }

    ReadResult ReadOneLine(const std::string& line, SRecord& record)
    {
        return Open(line + "\n").ReadRecord(record);
    }

    test::TempDir m_dir;
    SRecordReader m_reader;
};

struct LineCase {
    const char* legend;
    std::string line;
    ReadResult result;
};

TEST_F(SRecordFile, LineValidity)
{
    const std::string s3_32 = test::S3Line(0x10000000, test::PatternBytes(32));
    ASSERT_EQ(s3_32.size(), 78u);
    std::string s3_32_lower = s3_32;
    for (auto& c : s3_32_lower)
        c = char(std::tolower(c));
    s3_32_lower[0] = 'S';

    const LineCase cases[] = {
        {"S3 with two data bytes", "S307100000000102E5", ReadResult::Data},
        {"S7 entry point", "S70510000000EA", ReadResult::Data},
        {"S0 header", "S00F000068656C6C6F202020202000003C", ReadResult::Data},
        {"S1", "S1050000AABB95", ReadResult::Data},
        {"S2", "S206000000AABB94", ReadResult::Data},
        {"S5 count", "S5030005F7", ReadResult::Data},
        {"S9", "S9030000FC", ReadResult::Data},
        {"78 characters", s3_32, ReadResult::Data},
        {"lower-case hex digits", s3_32_lower, ReadResult::Data},
        {"line with CR LF", "S307100000000102E5\r", ReadResult::Data},
        {"80 characters with a correct checksum", test::S3Line(0x10000000, test::PatternBytes(33)), ReadResult::Error},
        {"79 characters", s3_32 + "0", ReadResult::Error},
        {"empty line", "", ReadResult::Error},
        {"lower-case s", "s307100000000102E5", ReadResult::Error},
        {"one wrong checksum digit", "S307100000000102E4", ReadResult::Error},
        {"CR in the middle cuts the line", "S3071000\r00000102E5", ReadResult::Error},
        {"byte count larger than the line", "S308100000000102E4", ReadResult::Error},
        {"byte count smaller than the line", "S306100000000102E6", ReadResult::Error},
        {"trailing characters", "S307100000000102E5FF", ReadResult::Error},
        {"odd number of characters", "S307100000000102E5F", ReadResult::Error},
        {"non-hex in the data", "S30710000000010GE5", ReadResult::Error},
        {"non-hex in the byte count", "S3G7100000000102E5", ReadResult::Error},
        {"non-hex in the checksum", "S307100000000102EZ", ReadResult::Error},
        {"blank inside", "S307100000000 02E5", ReadResult::Error},
        {"S3 too short for its address", "S304100000EB", ReadResult::Error},
        {"S1 too short for its address", "S10200FD", ReadResult::Error},
        {"S7 too short for its address", "S704100000EB", ReadResult::Error},
        {"byte count 0", "S300FF", ReadResult::Error},
        {"only the type", "S3", ReadResult::Error},
        {"S alone", "S", ReadResult::Error},
        {"data past the 32-bit address space", "S307FFFFFFFF0102F9", ReadResult::Error},
        {"leading blank", " S307100000000102E5", ReadResult::Error},
    };
    for (const auto& c : cases) {
        SRecord record;
        EXPECT_EQ(ReadOneLine(c.line, record), c.result) << c.legend << ": " << c.line;
    }
}

TEST_F(SRecordFile, VerifyChecksumNeverReadsPastTheLine)
{
    // Byte counts that claim more than is there; under ASan a read past the
    // terminator would be caught.
    for (const char* line : {"S3FF", "S3FF10", "S30", "S", ""})
        EXPECT_FALSE(SRecordReader::VerifyChecksum(line)) << line;
}

TEST_F(SRecordFile, ClosedReader)
{
    SRecord r;
    EXPECT_EQ(m_reader.ReadRecord(r), ReadResult::Error);
    EXPECT_FALSE(m_reader.Scan());
    EXPECT_FALSE(m_reader.Open(m_dir.File("missing.hex").c_str()));
    EXPECT_FALSE(m_reader.IsOpen());
}

TEST_F(SRecordFile, ScanStartEntryAndSizeCoverTheLastByte)
{
    auto& reader = Open(test::S3Line(0x10000000, test::PatternBytes(32)) + "\n"
                        + test::S3Line(0x10000020, test::PatternBytes(32)) + "\n");
    ASSERT_TRUE(reader.Scan());
    EXPECT_EQ(reader.LowestAddress(), 0x10000000u);
    EXPECT_EQ(reader.EntryPoint(), 0x10000000u);   // no S7: lowest address
    EXPECT_EQ(reader.Size(), 0x40u);               // to the end of the last line's data

    // Out of order, with an S7 and a shorter last line.
    auto& again = Open(test::S3Line(0x10000100, {1, 2, 3}) + "\n" + test::S3Line(0x10000010, {4}) + "\n"
                       + "S70510000004E6\n" + "S70510000000EA\n");
    ASSERT_TRUE(again.Scan());
    EXPECT_EQ(again.LowestAddress(), 0x10000010u);
    EXPECT_EQ(again.EntryPoint(), 0x10000000u);    // the later S7 wins
    EXPECT_EQ(again.Size(), 0x10000103u - 0x10000010u);
}

TEST_F(SRecordFile, ScanWithoutS3Data)
{
    for (const std::string& text : {std::string(), std::string("S1050000AABB95\nS206000000AABB94\n")}) {
        auto& reader = Open(text);
        ASSERT_TRUE(reader.Scan());
        EXPECT_EQ(reader.LowestAddress(), 0xFFFFFFFFu);
        EXPECT_EQ(reader.EntryPoint(), 0xFFFFFFFFu);
        EXPECT_EQ(reader.Size(), 1u);
        reader.Rewind();
        std::vector<RecordInfo> records;
        ASSERT_TRUE(test::ReadAllRecords(reader, records));
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].frame, (Bytes{0x5B, 0, 0, 0, 0, 0x5D}));
    }
}

TEST_F(SRecordFile, ScanStopsAtABadLine)
{
    auto& reader = Open("S307100000000102E5\n\nS307100000020102E3\n");
    EXPECT_FALSE(reader.Scan());
    reader.Rewind();
    std::vector<RecordInfo> records;
    EXPECT_FALSE(test::ReadAllRecords(reader, records));
}

// Lines of `perLine` bytes covering `total` bytes from 0x10000000.
std::string ConsecutiveLines(const Bytes& data, size_t perLine, uint32_t base = 0x10000000)
{
    std::string text;
    for (size_t off = 0; off < data.size(); off += perLine) {
        const size_t n = std::min(perLine, data.size() - off);
        text += test::S3Line(uint32_t(base + off), Bytes(data.begin() + off, data.begin() + off + n)) + "\n";
    }
    return text;
}

TEST_F(SRecordFile, SixtyFourLinesOf32BytesFillOneRecord)
{
    const Bytes data = test::PatternBytes(64 * 32);
    auto& reader = Open(ConsecutiveLines(data, 32) + "S70510000000EA\n");
    ASSERT_TRUE(reader.Scan());
    reader.Rewind();
    std::vector<RecordInfo> records;
    ASSERT_TRUE(test::ReadAllRecords(reader, records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].address, 0x10000000u);
    EXPECT_EQ(records[0].dataCount, 2048);
    EXPECT_EQ(test::FrameData(records[0]), data);
    EXPECT_EQ(records[1].dataCount, 0);
}

TEST_F(SRecordFile, LinesOf24BytesSplitAtTheLimit)
{
    const Bytes data = test::PatternBytes(100 * 24, 5);
    auto& reader = Open(ConsecutiveLines(data, 24));
    std::vector<RecordInfo> records;
    ASSERT_TRUE(test::ReadAllRecords(reader, records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].dataCount, 2048);   // 85 lines and the first 8 bytes of the 86th
    EXPECT_EQ(records[1].address, 0x10000000u + 2048);
    EXPECT_EQ(records[1].dataCount, 2400 - 2048);
    EXPECT_EQ(test::FrameData(records[1])[0], data[2048]);   // the 86th line's 9th byte opens it
    EXPECT_EQ(records[2].dataCount, 0);
    const auto flat = test::FlattenRecords(records);
    ASSERT_EQ(flat.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(flat.at(uint32_t(0x10000000 + i)), data[i]) << i;
}

TEST_F(SRecordFile, GapsAndStepsBackOpenNewRecordsInFileOrder)
{
    auto& reader = Open(test::S3Line(0x10000100, {1, 2}) + "\n" + test::S3Line(0x10000102, {3}) + "\n"
                        + test::S3Line(0x10000000, {4, 5}) + "\n"   // step back
                        + test::S3Line(0x10000010, {6}) + "\n");    // gap
    std::vector<RecordInfo> records;
    ASSERT_TRUE(test::ReadAllRecords(reader, records));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].address, 0x10000100u);
    EXPECT_EQ(test::FrameData(records[0]), (Bytes{1, 2, 3}));
    EXPECT_EQ(records[1].address, 0x10000000u);
    EXPECT_EQ(test::FrameData(records[1]), (Bytes{4, 5}));
    EXPECT_EQ(records[2].address, 0x10000010u);
    EXPECT_EQ(test::FrameData(records[2]), (Bytes{6}));
    EXPECT_EQ(records[3].dataCount, 0);
}

TEST_F(SRecordFile, S3LinesWithoutDataAreSkipped)
{
    // An empty S3 line opening a record, and one inside a run.
    auto& reader = Open(test::S3Line(0x20000000, {}) + "\n" + test::S3Line(0x10000000, {1, 2}) + "\n"
                        + test::S3Line(0x30000000, {}) + "\n" + test::S3Line(0x10000002, {3}) + "\n"
                        + test::S3Line(0x10000040, {4}) + "\n");
    ASSERT_TRUE(reader.Scan());
    EXPECT_EQ(reader.LowestAddress(), 0x10000000u);
    EXPECT_EQ(reader.Size(), 0x41u);
    reader.Rewind();
    std::vector<RecordInfo> records;
    ASSERT_TRUE(test::ReadAllRecords(reader, records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(test::FrameData(records[0]), (Bytes{1, 2, 3}));
    EXPECT_EQ(test::FrameData(records[1]), (Bytes{4}));
}

TEST_F(SRecordFile, TruncatedFile)
{
    const std::string full = ConsecutiveLines(test::PatternBytes(96), 32);
    // Cut inside the last line: that line fails its length and checksum test.
    auto& reader = Open(full.substr(0, full.size() - 20));
    EXPECT_FALSE(reader.Scan());
    // Cut right after a line end: a shorter but valid image.
    auto& shorter = Open(full.substr(0, 2 * 79));
    ASSERT_TRUE(shorter.Scan());
    EXPECT_EQ(shorter.Size(), 64u);
}

TEST_F(SRecordFile, LongLineIsAnErrorNotTwoLines)
{
    std::string longLine = test::S3Line(0x10000000, test::PatternBytes(32));
    longLine += std::string(300, '0');
    auto& reader = Open(longLine + "\n" + test::S3Line(0x10000020, {1}) + "\n");
    EXPECT_FALSE(reader.Scan());
}

TEST_F(SRecordFile, RewindDropsPendingData)
{
    const Bytes data = test::PatternBytes(100 * 24, 9);
    auto& reader = Open(ConsecutiveLines(data, 24));
    std::vector<RecordInfo> second;
    UploadRecord r;
    ASSERT_TRUE(reader.ReadNextBlock(r));   // leaves 16 bytes pending
    reader.Rewind();
    ASSERT_TRUE(test::ReadAllRecords(reader, second));
    EXPECT_EQ(second[0].address, 0x10000000u);
    EXPECT_EQ(second[0].dataCount, 2048);
}

} // namespace
} // namespace velmor
