// The checks before an upload: SFLD choice, image layout and checksums, and
// the PFLD update question, with every log line they write.
#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/image/sha256.h"
#include "loader/upload/image_preparation.h"
#include "platform/text.h"
#include "receiver/sample_image.h"
#include "tests/support/board_fixture.h"
#include "tests/support/image_files.h"
#include "tests/support/log_recorder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace velmor {
namespace {

using test::Bytes;

std::wstring W(const std::string& text)
{
    return platform::Widen(text);
}

std::wstring Hex(const char* format, uint32_t a, uint32_t b = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return W(text);
}

constexpr auto WordAt = test::BoardFixture::WordAt;

void PutWord(Bytes& image, size_t offset, uint32_t word)
{
    for (int i = 0; i < 4; ++i)
        image[offset + i] = uint8_t(word >> (8 * i));
}

receiver::SampleImageOptions Options(const std::string& sfldVersion,
                                     receiver::ChecksumFault bad = receiver::ChecksumFault::None)
{
    receiver::SampleImageOptions options;
    options.sfldVersion = sfldVersion;
    options.badChecksum = bad;
    return options;
}

class Preparation : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_job.receiver.pfld.crc = WordAt(m_image, 0x2000);
    }

    Outcome Prepare(const Bytes& image, const std::string& name = "image.bin")
    {
        m_path = m_dir.File(name);
        test::WriteFile(m_path, image);
        return PrepareImage(ReadImage(m_path), m_job, m_log);
    }

    // The pane lines after the SFLD choice's three lines and the "Opening" and SHA-256 lines.
    std::vector<std::wstring> ImageLines() const
    {
        const auto lines = m_log.PaneLines();
        return lines.size() > 5 ? std::vector<std::wstring>(lines.begin() + 5, lines.end()) : std::vector<std::wstring> {};
    }

    test::TempDir m_dir;
    std::string m_path;
    Bytes m_image = receiver::MakeSampleImage({});
    test::LogRecorder m_log;
    UploadJob m_job;
};

TEST_F(Preparation, GoodImageWhosePfldTheReceiverHas)
{
    ASSERT_TRUE(Prepare(m_image).Ok());
    EXPECT_EQ(m_log.PaneLines(), (std::vector<std::wstring> {
                                     L"Opening SFLD ...", L"SFLD section skipped", L"Complete",
                                     W("Opening '" + m_path + "' ..."),
                                     W("Image SHA-256: " + ToHex(Sha256(m_image.data(), m_image.size()))),
                                     L"PFLD section found at: 0x10000000, 0x10002000",
                                     Hex("PFLD CRC: 0x%08x PASSED.", WordAt(m_image, 0x2000)),
                                     L"FW   section found at: 0x10004000, 0x10024000",
                                     Hex("FW CRC: 0x%08x PASSED.", WordAt(m_image, 0x24000)),
                                     L"PFL is up to date", L"Complete"}));
    EXPECT_EQ(m_log.StatusLines(), std::vector<std::wstring> {L"Image type: Binary"});
    EXPECT_FALSE(m_job.pfldUpdate);
    EXPECT_EQ(m_job.image.Size(), 0x24000u);
    EXPECT_EQ(m_job.sfld.LowestAddress(), 0x40000000u);
}

// Another PFLD on the receiver: the job's policy is asked once, and its
// answer decides; nobody allowed to answer is no Yes.
TEST_F(Preparation, PfldUpdateQuestion)
{
    m_job.receiver.pfld.crc = 0x12345678;
    const struct {
        PfldAnswer answer;
        Fault fault;
        std::vector<std::wstring> last;
    } rows[] = {
        {PfldAnswer::No, Fault::PfldDeclined, {L"Canceled by user"}},
        {PfldAnswer::NotAllowed, Fault::PfldNeedsAnswer, {L"FW CRC: 0x" }},
        {PfldAnswer::Yes, Fault::None, {L"PFLD mode ... On", L"Complete"}},
    };
    for (const auto& row : rows) {
        m_log.Reset();
        int asked = 0;
        m_job.askPfld = [&] {
            ++asked;
            return row.answer;
        };
        EXPECT_EQ(Prepare(m_image).fault, row.fault);
        EXPECT_EQ(asked, 1);
        const auto lines = m_log.PaneLines();
        const std::vector<std::wstring> last(lines.end() - long(row.last.size()), lines.end());
        EXPECT_EQ(last[0].substr(0, row.last[0].size()), row.last[0]);
        EXPECT_EQ(m_job.pfldUpdate, row.answer == PfldAnswer::Yes);
    }
}

TEST_F(Preparation, Refusals)
{
    struct Case {
        const char* legend;
        Bytes image;
        std::vector<std::wstring> lines;   // after "Opening '...' ..." and the SHA-256
        std::string reason;                // in the refusal, for a front end to show
    };
    Bytes badPfld = receiver::MakeSampleImage(Options("", receiver::ChecksumFault::Pfld));
    Bytes badFw = receiver::MakeSampleImage(Options("", receiver::ChecksumFault::Fw));
    Bytes fwFirst = m_image;   // an FW header where the PFLD header belongs
    PutWord(fwFirst, 0x20, 0x10004000);
    PutWord(fwFirst, 0x24, 0x10024000);
    Bytes neither = m_image;
    PutWord(neither, 0x20, 0x12345678);
    Bytes noPfldOpcode = m_image;
    noPfldOpcode[3] = 0xE4;
    Bytes noFwOpcode = m_image;
    noFwOpcode[0x4003] = 0x00;
    Bytes oddLength = m_image;
    oddLength.push_back(0);
    const Case cases[] = {
        {"PFLD checksum", badPfld,
         {L"PFLD section found at: 0x10000000, 0x10002000",
          Hex("PFLD CRC: 0x%08x 0x%08x FAILED.", ~WordAt(badPfld, 0x2000), WordAt(badPfld, 0x2000)),
          L"FW   section found at: 0x10004000, 0x10024000",
          Hex("FW CRC: 0x%08x PASSED.", WordAt(badPfld, 0x24000))},
         "PFLD checksum"},
        {"FW checksum", badFw,
         {L"PFLD section found at: 0x10000000, 0x10002000", Hex("PFLD CRC: 0x%08x PASSED.", WordAt(badFw, 0x2000)),
          L"FW   section found at: 0x10004000, 0x10024000",
          Hex("FW CRC: 0x%08x 0x%08x FAILED.", ~WordAt(badFw, 0x24000), WordAt(badFw, 0x24000))},
         "FW checksum"},
        {"FW header at 0x20", fwFirst,
         {L"FW   section found at: 0x10004000, 0x10024000", L"PFLD section missed or corrupted"},
         "PFLD section missed"},
        {"no header", neither, {L"Incorrect Image"}, "Incorrect Image"},
        {"PFLD opcode", noPfldOpcode,
         {L"PFLD section found at: 0x10000000, 0x10002000",
          Hex("PFLD CRC: 0x%08x 0x%08x FAILED.", WordAt(m_image, 0x2000) ^ 0xE4000000u ^ 0xE5000000u,
              WordAt(m_image, 0x2000)),
          L"FW   section found at: 0x10004000, 0x10024000", L"Incorrect PFLD Image"},
         "Incorrect PFLD Image"},
        {"FW opcode", noFwOpcode,
         {L"PFLD section found at: 0x10000000, 0x10002000", Hex("PFLD CRC: 0x%08x PASSED.", WordAt(m_image, 0x2000)),
          L"FW   section found at: 0x10004000, 0x10024000", L"Incorrect FW Image"},
         "Incorrect FW Image"},
        {"length not a multiple of 4", oddLength, {}, "multiple of 4"},
    };
    for (const auto& c : cases) {
        m_log.Reset();
        const Outcome outcome = Prepare(c.image);
        EXPECT_EQ(outcome.fault, Fault::ImageRefused) << c.legend;
        EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << c.legend << ": " << outcome.reason;
        EXPECT_EQ(ImageLines(), c.lines) << c.legend;
    }
}

// Each refusal of a file says which file and why: missing, empty, no regular
// file, or the S-record line that is malformed.
TEST_F(Preparation, OpenAndFormatErrors)
{
    m_path = m_dir.File("missing.bin");
    Outcome outcome = PrepareImage(ReadImage(m_path), m_job, m_log);
    EXPECT_EQ(m_log.PaneLines().back(), W("File open error (" + m_path + ")"));
    EXPECT_NE(outcome.reason.find("No such file"), std::string::npos) << outcome.reason;

    m_log.Reset();
    outcome = Prepare({}, "empty.bin");
    EXPECT_EQ(m_log.PaneLines().back(), W("Image file is empty (" + m_path + ")"));
    EXPECT_EQ(outcome.reason, "the image file is empty");

    m_log.Reset();
    const std::string text = test::S3Line(0x10000000, {0xE5, 1, 2, 3}) + "\nhello\n";
    outcome = Prepare(Bytes(text.begin(), text.end()), "notes.txt");
    EXPECT_EQ(m_log.StatusLines(), std::vector<std::wstring> {W("Image Format Error (" + m_path + ")")});
    EXPECT_EQ(outcome.reason, "S-record line 2 is malformed");

    // A FIFO is no image: refused at once, not waited on for a writer.
    m_log.Reset();
    m_path = m_dir.File("image.fifo");
    ASSERT_EQ(mkfifo(m_path.c_str(), 0600), 0);
    outcome = PrepareImage(ReadImage(m_path), m_job, m_log);
    EXPECT_EQ(outcome.fault, Fault::ImageRefused);
    EXPECT_NE(outcome.reason.find("not a regular file"), std::string::npos) << outcome.reason;

    // A long path is the file it names, whole: nothing is cut at any length.
    m_log.Reset();
    const std::string deep = std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(200, 'f');
    std::filesystem::create_directories(m_dir.File(deep));
    EXPECT_TRUE(Prepare(m_image, deep + "/image.bin").Ok());
    EXPECT_TRUE(m_log.HasPaneLine(W("Opening '" + m_path + "' ...")));
}

TEST_F(Preparation, SRecordImages)
{
    const std::string text = receiver::MakeSampleSRecords({});
    ASSERT_TRUE(Prepare(Bytes(text.begin(), text.end()), "image.s37").Ok());
    // The same section checks as a binary image: the PFLD matches the receiver's.
    EXPECT_EQ(m_log.PaneLines().back(), L"Complete");
    EXPECT_TRUE(m_log.HasPaneLine(Hex("FW CRC: 0x%08x PASSED.", WordAt(m_image, 0x24000))));
    EXPECT_EQ(m_log.StatusLines(), (std::vector<std::wstring> {
                                       L"Image type: Motorola S-Record", L"Image Start address: 0x10000000",
                                       L"Image Entry point: 0x10000000", L"Image Size: 147460 bytes"}));
}

// Nothing outside the flash, nothing twice, no PFLD rewrite without a valid
// PFLD section, and the FW section checked: refused before the question.
TEST_F(Preparation, SRecordRefusals)
{
    const std::string good = receiver::MakeSampleSRecords({});
    const std::string badFw = receiver::MakeSampleSRecords(Options("", receiver::ChecksumFault::Fw));
    const std::string ram = test::S3Line(0x40000000, {1, 2, 3, 4}) + "\n";
    const std::string twice = test::S3Line(0x10000100, {1, 2, 3, 4}) + "\n";
    const std::string bare = test::S3Line(0x10000000, {0xE5, 2, 3, 4}) + "\n";
    const std::string fwOnly = test::S3Line(0x10004000, {0xE5, 1, 2, 3}) + "\n";
    const struct {
        const char* legend;
        std::string text;
        std::wstring last;   // the last pane line
    } cases[] = {
        {"RAM section", ram + good, L"Image data outside the flash at 0x40000000"},
        {"past the flash", test::S3Line(0x10103FFE, {1, 2, 3, 4}) + "\n" + good,
         L"Image data outside the flash at 0x10103FFE"},
        {"overlap", twice + good, L"Image data given twice at 0x10000100"},
        {"no PFLD header", bare, L"Incorrect Image"},
        {"FW checksum", badFw, Hex("FW CRC: 0x%08x 0x%08x FAILED.", WordAt(m_image, 0x24000), ~WordAt(m_image, 0x24000))},
        {"not at the flash base", fwOnly, L""},
    };
    m_job.receiver.pfld.crc = 0x12345678;   // any image that got this far would ask
    for (const auto& c : cases) {
        m_log.Reset();
        EXPECT_EQ(Prepare(Bytes(c.text.begin(), c.text.end()), "image.s37").fault, Fault::ImageRefused) << c.legend;
        const std::wstring last = c.last.empty() ? m_log.PaneLines()[4] : c.last;
        EXPECT_EQ(m_log.PaneLines().back(), last) << c.legend;
    }
}

// The image's own SFLD never passes through a file: not the old shared name
// (a link planted there stays as it is, and what it points to is not
// written), and nothing at all in the temp folder.
TEST_F(Preparation, EmbeddedSfld)
{
    test::TempDir temp;
    const char* oldTemp = std::getenv("TMPDIR");
    const std::string kept = oldTemp ? oldTemp : "";
    setenv("TMPDIR", temp.Path().c_str(), 1);
    const std::string planted = temp.File("sfld_tmp.hex");
    const std::string victim = m_dir.File("victim");
    test::WriteFile(victim, std::string("keep"));
    std::filesystem::create_symlink(victim, planted);

    const Bytes image = receiver::MakeSampleImage(Options("IMAGE-1"));
    const bool prepared = Prepare(image).Ok();
    oldTemp ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
    ASSERT_TRUE(prepared);
    EXPECT_EQ(m_log.PaneLines()[1], L"SFLD section found");
    EXPECT_EQ(test::ReadFile(victim), Bytes({'k', 'e', 'e', 'p'}));
    std::filesystem::remove(planted);
    EXPECT_TRUE(std::filesystem::is_empty(temp.Path()));
}

// What follows the FW checksum word is an SFLD only when it checks out as one;
// otherwise the reason is logged and sfld.hex is taken. An FW end outside the
// file means no section at all, not a wrap to some other offset.
TEST_F(Preparation, SfldSectionThatIsNotOne)
{
    const Bytes bare = receiver::MakeSampleImage({});
    const auto padded = [&](size_t words, uint8_t fill) {
        Bytes image = bare;
        image.insert(image.end(), words * 4, fill);
        return image;
    };
    const auto fwEnd = [](uint32_t end) {
        Bytes image = receiver::MakeSampleImage(Options("IMAGE-1"));
        PutWord(image, 0x4024, end);
        return image;
    };
    const struct {
        const char* legend;
        Bytes image;
        std::wstring why;   // the line before "SFLD section skipped"
        bool prepared;
    } cases[] = {
        {"four zero bytes", padded(1, 0x00), L"SFLD section empty", true},
        {"eight zero bytes", padded(2, 0x00), L"SFLD section is no S-record file", true},
        {"two 0xFF words", padded(2, 0xFF), L"SFLD section is no S-record file", true},
        {"three 0xFF words", padded(3, 0xFF), L"SFLD section CRC: 0x00000000 0xffffffff FAILED.", true},
        {"bad checksum", receiver::MakeSampleImage(Options("IMAGE-1", receiver::ChecksumFault::Sfld)), L"", true},
        {"FW end past the file", fwEnd(0x10024000u + 0x100000u), L"Opening SFLD ...", false},
        {"FW end below the flash", fwEnd(0x0FFFFFF0u), L"Opening SFLD ...", false},
        {"FW end at the top of the address space", fwEnd(0xFFFFFFF0u), L"Opening SFLD ...", false},
    };
    for (const auto& c : cases) {
        m_log.Reset();
        EXPECT_EQ(Prepare(c.image).Ok(), c.prepared) << c.legend;
        const auto lines = m_log.PaneLines();
        const auto skipped = std::find(lines.begin(), lines.end(), L"SFLD section skipped");
        ASSERT_NE(skipped, lines.end()) << c.legend;
        if (!c.why.empty()) {
            EXPECT_EQ(*(skipped - 1), c.why) << c.legend;
        }
        EXPECT_EQ(m_job.sfld.LowestAddress(), 0x40000000u) << c.legend;   // sfld.hex
        EXPECT_TRUE(m_job.sfld.HasData()) << c.legend;
    }
}

} // namespace
} // namespace velmor
