// Image files as the upload sees them: the type by content, the analysis, and
// the upload records, from S-record text, binary images, and S-record files
// made by outside tools from a binary image.
#include "loader/image/image_source.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

namespace velmor {
namespace {

using test::Bytes;
using test::RecordInfo;
using Records = std::vector<std::pair<uint32_t, Bytes>>;   // address, data

constexpr uint32_t kBase = 0x10000000;

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// S3 lines of `perLine` bytes carrying `data` from `base`.
std::string Lines(const Bytes& data, size_t perLine, uint32_t base = kBase)
{
    std::string text;
    for (size_t off = 0; off < data.size(); off += perLine) {
        const size_t n = std::min(perLine, data.size() - off);
        text += test::S3Line(uint32_t(base + off), Bytes(data.begin() + off, data.begin() + off + n)) + "\n";
    }
    return text;
}

// `data` from `base` in records of 2048 bytes, the last one shorter.
Records Blocks(const Bytes& data, size_t count, uint32_t base = kBase)
{
    Records records;
    for (size_t off = 0; off < count; off += 2048)
        records.push_back({uint32_t(base + off), Bytes(data.begin() + off, data.begin() + std::min(count, off + 2048))});
    return records;
}

void RunTool(const std::string& command)
{
    ASSERT_EQ(std::system((command + " 2>&1").c_str()), 0) << command;
}

struct FileCase {
    const char* legend;
    std::string name;   // the name never decides the type
    Bytes content;
    ImageType type;
    bool analysed;
    uint32_t start = 0;
    uint32_t entry = 0;
    uint32_t size = 0;
    Records records {};   // without the closing empty record
};

TEST(ImageSourceFile, SRecordFilesAndBinaryImages)
{
    constexpr auto kSRecord = ImageType::MotorolaSRecord;
    constexpr auto kBinary = ImageType::Binary;
    test::TempDir dir;
    // Not a multiple of 32 or 24, so the tools' last line is short.
    const Bytes made = test::BinaryImage(0x9000 + 13, 0x8FF0);
    test::WriteFile(dir.File("source.bin"), made);
    // objcopy writes the output file's name into the S0 line; a short relative
    // name keeps that line inside the 78-character limit.
    RunTool("cd " + dir.Path() + " && " + OBJCOPY_PROGRAM + " -I binary -O srec --srec-forceS3 --srec-len=32"
            " --change-addresses=0x10000000 source.bin objcopy.srec");
    RunTool("cd " + dir.Path() + " && " + SREC_CAT_PROGRAM + " source.bin -binary -offset 0x10000000"
            " -o srec_cat.s37 -motorola -address-length=4 -output_block_size=24 -execution-start-address=0x10000000");

    const Bytes d32 = test::PatternBytes(100 * 32);
    const Bytes d24 = test::PatternBytes(100 * 24, 5);
    const Bytes big = test::BinaryImage(0x10000 + 4 + 100, 0x10000);
    const Bytes shortFile = test::BinaryImage(0x4830, 0x20000);
    const std::string cut = Lines(test::PatternBytes(96), 32);
    const std::string overlong = test::S3Line(0x10000020, test::PatternBytes(32)) + std::string(300, '0') + "\n";
    const FileCase cases[] = {
        {"objcopy", "objcopy.srec", test::ReadFile(dir.File("objcopy.srec")), kSRecord, true, kBase, kBase,
         uint32_t(made.size()), Blocks(made, made.size())},
        {"srec_cat", "srec_cat.s37", test::ReadFile(dir.File("srec_cat.s37")), kSRecord, true, kBase, kBase,
         uint32_t(made.size()), Blocks(made, made.size())},
        // The same file as a binary image ends at the FW end, before the FW checksum word.
        {"the tools' source", "source.s19", made, kBinary, true, kBase, kBase, 0x8FF0, Blocks(made, 0x8FF0)},
        // A full record takes nothing more, not even data that follows on; no S7: the entry is the lowest address.
        {"lines of 32 bytes", "image.bin", Text(Lines(d32, 32)), kSRecord, true, kBase, kBase, 3200,
         Blocks(d32, d32.size())},
        {"size a multiple of 2048", "big.bin", big, kBinary, true, kBase, kBase, 0x10000, Blocks(big, 0x10000)},
        {"file shorter than its size", "short.bin", shortFile, kBinary, true, kBase, kBase, 0x20000,
         Blocks(shortFile, shortFile.size())},
        // A gap or a step back opens a new record; the later S7 gives the entry;
        // the size runs to the highest byte.
        {"out of order", "order.s19",
         Text(test::S3Line(0x10000100, {1, 2}) + "\n" + test::S3Line(0x10000102, {3}) + "\n"
              + test::S3Line(0x10000000, {4, 5}) + "\n" + test::S3Line(0x10000010, {6}) + "\n"
              + "S70510000000EA\nS70510000004E6\n"),
         kSRecord, true, kBase, 0x10000004, 0x103, {{0x10000100, {1, 2, 3}}, {kBase, {4, 5}}, {0x10000010, {6}}}},
        // An empty S3 line would pin the record's address.
        {"S3 lines without data", "empty-lines.s19",
         Text(test::S3Line(0x20000000, {}) + "\n" + test::S3Line(kBase, {1, 2}) + "\n"
              + test::S3Line(0x30000000, {}) + "\n" + test::S3Line(0x10000002, {3}) + "\n"
              + test::S3Line(0x10000040, {4}) + "\n"),
         kSRecord, true, kBase, kBase, 0x41, {{kBase, {1, 2, 3}}, {0x10000040, {4}}}},
        // An SFLD whose data reach the top of the address space: what comes
        // after, at 0, does not follow on (its size wraps, and is refused later).
        {"data up to the top of the address space", "top.s19",
         Text(test::S3Line(0xFFFFFFFC, {1, 2, 3, 4}) + "\n" + test::S3Line(0, {5, 6}) + "\n"), kSRecord, true, 0,
         0, 0, {{0xFFFFFFFC, {1, 2, 3, 4}}, {0, {5, 6}}}},
        {"S1 and S2 lines only", "s1s2.s19", Text("S1050000AABB95\nS206000000AABB94\n"), kSRecord, true, 0xFFFFFFFF,
         0xFFFFFFFF, 1},
        {"a blank line", "blank.s19", Text("S307100000000102E5\n\nS307100000020102E3\n"), kSRecord, false},
        {"cut inside the last line", "cut.s19", Text(cut.substr(0, cut.size() - 20)), kSRecord, false},
        {"a long line is not two lines", "long.s19", Text(cut.substr(0, 79) + overlong + cut.substr(79)), kSRecord,
         false},
        {"text that is no S-record", "notes.txt", Text("hello\nS70510000000EA\n"), kBinary, false},
        {"too short for the FW header", "tiny.bin", test::BinaryImage(0x4027, 0x5000), kBinary, false},
        {"no FW start", "zero.bin", Bytes(0x5000, 0), kBinary, false},
        // The first record leaves 16 bytes pending, which Rewind drops.
        {"lines of 24 bytes", "image.s37", Text(Lines(d24, 24)), kSRecord, true, kBase, kBase, 2400,
         Blocks(d24, d24.size())},
    };
    // One source for all: each file switches it to the reader of its type.
    ImageSource source;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string path = dir.File(c.name);
        test::WriteFile(path, c.content);
        ASSERT_TRUE(source.Open(c.content));
        EXPECT_EQ(source.Type(), c.type);
        ASSERT_EQ(source.Analyse(), c.analysed);
        if (!c.analysed)
            continue;
        EXPECT_EQ(source.StartAddress(), c.start);
        EXPECT_EQ(source.EntryPoint(), c.entry);
        EXPECT_EQ(source.Size(), c.size);

        source.Rewind();
        UploadRecord first;
        ASSERT_TRUE(source.ReadNextBlock(first));
        source.Rewind();
        std::vector<RecordInfo> records;
        ASSERT_TRUE(test::ReadAllRecords(source, records));
        // The S-record reader's closing record is the end of an SFLD transfer.
        if (c.type == kSRecord) {
            EXPECT_EQ(records.back().frame, (Bytes {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));
        }
        records.pop_back();
        Records got;
        for (const auto& r : records)
            got.push_back({r.address, test::FrameData(r)});
        EXPECT_EQ(got, c.records);
    }
    EXPECT_FALSE(source.Open(Bytes {}));
}

} // namespace
} // namespace velmor
