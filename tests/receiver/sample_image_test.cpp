// Sample images: layout, checksums and version texts recomputed here, the
// SFLD section, the wrong-checksum switches and the S-record form.
#include "receiver/sample_image.h"
#include "receiver/secondary_loader.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace receiver {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Word(const Bytes& image, size_t offset)
{
    return uint32_t(image.at(offset)) | uint32_t(image.at(offset + 1)) << 8 | uint32_t(image.at(offset + 2)) << 16
        | uint32_t(image.at(offset + 3)) << 24;
}

// XOR of little-endian words over [from, to), a short last word zero-filled.
uint32_t Xor(const Bytes& image, size_t from, size_t to)
{
    uint32_t sum = 0;
    for (size_t i = from; i < to; i += 4) {
        uint32_t word = 0;
        for (size_t k = 0; k < 4 && i + k < to; ++k)
            word |= uint32_t(image[i + k]) << (8 * k);
        sum ^= word;
    }
    return sum;
}

struct Checksums {
    bool pfld;
    bool fw;
    bool sfld;
};

Checksums Check(const Bytes& image)
{
    const uint32_t pfldEnd = Word(image, 0x24) - 0x10000000;
    const uint32_t fwEnd = Word(image, 0x4024) - 0x10000000;
    const size_t sfldStart = fwEnd + 4;
    return {Xor(image, 0, pfldEnd) == Word(image, pfldEnd), Xor(image, 0x4000, fwEnd) == Word(image, fwEnd),
            image.size() > sfldStart && Xor(image, sfldStart, image.size() - 4) == Word(image, image.size() - 4)};
}

std::string Text(const Bytes& image, size_t from, size_t count)
{
    return std::string(image.begin() + long(from), image.begin() + long(from + count));
}

class SampleImage : public ::testing::Test {
protected:
    std::string WriteSfld(const std::string& text)
    {
        const std::string path = m_dir.File("sfld.hex");
        velmor::test::WriteFile(path, text);
        return path;
    }

    velmor::test::TempDir m_dir;
};

TEST_F(SampleImage, LayoutAndChecksums)
{
    SampleImageOptions options;
    options.pfldVersion = "3.12";
    options.fwVersion = "Q8.01-beta";
    options.pfldSize = 0x1F04;
    options.fwSize = 0x9000;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        options.seed = seed;
        const Bytes image = MakeSampleImage(options);
        ASSERT_EQ(image.size(), 0x4000u + 0x9000 + 4);
        EXPECT_EQ(image[3], 0xE5);
        EXPECT_EQ(image[0x4003], 0xE5);
        EXPECT_EQ(Word(image, 0x20), 0x10000000u);
        EXPECT_EQ(Word(image, 0x24), 0x10001F04u);
        EXPECT_EQ(Word(image, 0x4020), 0x10004000u);
        EXPECT_EQ(Word(image, 0x4024), 0x1000D000u);
        const Checksums ok = Check(image);
        EXPECT_TRUE(ok.pfld && ok.fw);
        EXPECT_NE(Word(image, 0x1F04), 0u) << "a PFLD checksum of 0 reads as none";
        for (size_t k = 0x1F08; k < 0x4000; ++k)
            ASSERT_EQ(image[k], 0xFF) << k;

        // The loader's rule: the text follows the last "v<digit>" in the 32
        // bytes before the checksum, up to a byte <= ' '.
        const std::string pfldArea = Text(image, 0x1F04 - 32, 36);
        size_t v = 0;
        for (size_t i = 0; i <= 30; ++i)
            if (pfldArea[i] == 'v' && std::isdigit(uint8_t(pfldArea[i + 1])))
                v = i;
        EXPECT_EQ(pfldArea.substr(v + 1, 5), std::string("3.12") + '\0');
        EXPECT_NE(Text(image, 0xD000 - 32, 32).find(std::string("FWVER=Q8.01-beta") + '\0'), std::string::npos);
    }
    options.seed = 5;
    EXPECT_EQ(MakeSampleImage(options), MakeSampleImage(options));
    const Bytes five = MakeSampleImage(options);
    options.seed = 6;
    EXPECT_NE(MakeSampleImage(options), five);
}

TEST_F(SampleImage, SfldSectionPaddedWithCarriageReturns)
{
    const std::string sfld = MakeSampleSfld();
    for (size_t cut = 0; cut < 4; ++cut) {
        // Texts of every length modulo 4, the last one without a final LF.
        std::string text = sfld.substr(0, sfld.size() - cut);
        SCOPED_TRACE(text.size());
        SampleImageOptions options;
        options.sfldPath = WriteSfld(text);
        const Bytes image = MakeSampleImage(options);
        ASSERT_EQ(image.size() % 4, 0u);
        const size_t start = 0x4000 + options.fwSize + 4;
        const std::string section = Text(image, start, image.size() - 4 - start);

        if (text.back() != '\n')
            text += '\n';
        const size_t extra = section.size() - text.size();
        EXPECT_LT(extra, 4u);
        EXPECT_EQ(section, text.substr(0, text.size() - 1) + std::string(extra, '\r') + "\n");
        const Checksums ok = Check(image);
        EXPECT_TRUE(ok.pfld && ok.fw && ok.sfld);
    }
}

// The data bytes of S3 lines, in file order.
Bytes SRecordData(const std::string& text)
{
    Bytes data;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("S3", 0) != 0)
            continue;
        const size_t count = std::stoul(line.substr(2, 2), nullptr, 16);
        for (size_t i = 0; i + 5 < count; ++i)
            data.push_back(uint8_t(std::stoul(line.substr(12 + 2 * i, 2), nullptr, 16)));
    }
    return data;
}

TEST_F(SampleImage, SfldCarriesItsVersionText)
{
    // What the board will find in the uploaded data.
    EXPECT_EQ(SecondaryLoader::VersionIn(SRecordData(MakeSampleSfld(4, "X 1.2-rc"))), "X 1.2-rc");
    EXPECT_EQ(SecondaryLoader::VersionIn(SRecordData(MakeSampleSfld())), kSampleSfldVersion);
    EXPECT_NE(MakeSampleSfld(4, "A"), MakeSampleSfld(4, "B"));
    for (const std::string& bad : {std::string(), std::string(33, 'v'), std::string("1\n"), std::string("a\0b", 3)})
        EXPECT_THROW(MakeSampleSfld(1, bad), std::invalid_argument) << bad.size();

    SampleImageOptions options;
    options.seed = 6;
    options.sfldVersion = "E-5";
    const Bytes image = MakeSampleImage(options);
    const std::string sfld = MakeSampleSfld(6, "E-5");
    // Up to its last LF, which padding may push back.
    EXPECT_EQ(Text(image, 0x4000 + options.fwSize + 4, sfld.size() - 1), sfld.substr(0, sfld.size() - 1));
    EXPECT_TRUE(Check(image).sfld);
    EXPECT_THROW(MakeSampleSRecords(options), std::invalid_argument);
    options.sfldPath = WriteSfld(sfld);
    EXPECT_THROW(MakeSampleImage(options), std::invalid_argument) << "a file and a version text";
}

TEST_F(SampleImage, WrongChecksumSwitches)
{
    SampleImageOptions options;
    options.sfldPath = WriteSfld(MakeSampleSfld(3));
    const struct {
        ChecksumFault fault;
        Checksums expected;
    } cases[] = {
        {ChecksumFault::None, {true, true, true}},
        {ChecksumFault::Pfld, {false, true, true}},
        {ChecksumFault::Fw, {true, false, true}},
        {ChecksumFault::Sfld, {true, true, false}},
    };
    for (const auto& c : cases) {
        options.badChecksum = c.fault;
        const Checksums ok = Check(MakeSampleImage(options));
        EXPECT_EQ(ok.pfld, c.expected.pfld) << int(c.fault);
        EXPECT_EQ(ok.fw, c.expected.fw) << int(c.fault);
        EXPECT_EQ(ok.sfld, c.expected.sfld) << int(c.fault);
    }
}

TEST_F(SampleImage, RefusesOptionsOutOfRange)
{
    const std::vector<void (*)(SampleImageOptions&)> changes = {
        [](SampleImageOptions& o) { o.pfldVersion = "1"; },
        [](SampleImageOptions& o) { o.pfldVersion = "1.2345"; },
        [](SampleImageOptions& o) { o.pfldVersion = "a.1"; },
        [](SampleImageOptions& o) { o.fwVersion = ""; },
        [](SampleImageOptions& o) { o.fwVersion = "V1 2"; },
        [](SampleImageOptions& o) { o.fwVersion = "V1,2"; },
        [](SampleImageOptions& o) { o.fwVersion = std::string(26, 'x'); },
        [](SampleImageOptions& o) { o.pfldSize = 0x2002; },
        [](SampleImageOptions& o) { o.pfldSize = 0x4000; },
        [](SampleImageOptions& o) { o.fwSize = 0x40; },
        [](SampleImageOptions& o) { o.fwSize = 0x100000; },
        [](SampleImageOptions& o) { o.badChecksum = ChecksumFault::Sfld; },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        SampleImageOptions options;
        changes[i](options);
        EXPECT_THROW(MakeSampleImage(options), std::invalid_argument) << "case " << i;
    }
    SampleImageOptions limits;
    limits.pfldSize = 0x3FFC;
    limits.fwSize = 0xFFFFC;
    limits.fwVersion = std::string(25, 'x');
    EXPECT_NO_THROW(MakeSampleImage(limits));
}

} // namespace
} // namespace receiver
