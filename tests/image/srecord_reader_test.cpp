// Which S-record lines the reader takes; files, scans and records are in image_source_test.
#include "loader/image/srecord_reader.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace velmor {
namespace {

class SRecordFile : public ::testing::Test {
protected:
    // The reader's verdict on `line` as the only line of a file.
    ReadResult ReadOneLine(const std::string& line)
    {
        const std::string path = m_dir.File("image.s19");
        test::WriteFile(path, line + "\n");
        EXPECT_TRUE(m_reader.Open(path.c_str()));
        SRecord record;
        return m_reader.ReadRecord(record);
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
        // Byte counts that claim more than is there; under ASan a read past
        // the terminator would be caught.
        {"byte count past the end", "S3FF", ReadResult::Error},
        {"byte count past the end, one byte", "S3FF10", ReadResult::Error},
        {"half a byte count", "S30", ReadResult::Error},
        {"data past the 32-bit address space", "S307FFFFFFFF0102F9", ReadResult::Error},
        {"leading blank", " S307100000000102E5", ReadResult::Error},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadOneLine(c.line), c.result) << c.legend << ": " << c.line;
}

} // namespace
} // namespace velmor
