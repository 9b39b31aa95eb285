// Image and SFLD checks. Every offset taken from a file is checked against the
// file's length before it is used.
#include "loader/upload/image_preparation.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <optional>
#include <vector>

namespace velmor {
namespace {

ImageSource g_imageSource;
SRecordReader g_sfldReader;
bool g_pfldUpdate = false;

constexpr size_t kMaxPathBytes = 511;
constexpr uint32_t kPfldHeaderOffset = 0x20;
constexpr uint32_t kFwOffset = 0x4000;
constexpr uint32_t kFwHeaderOffset = 0x4020;
constexpr uint32_t kPfldEndLimit = 0x10004000;
constexpr uint32_t kFwStartAddress = 0x10004000;
constexpr uint32_t kFwEndLimit = 0x10104000;

uint32_t LittleEndian(const uint8_t* b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

bool ReadWordAt(FILE* file, int64_t offset, uint32_t& word)
{
    uint8_t b[4];
    if (std::fseek(file, long(offset), SEEK_SET) != 0 || std::fread(b, 1, 4, file) != 4)
        return false;
    word = LittleEndian(b);
    return true;
}

int64_t FileLength(FILE* file)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    return std::ftell(file);
}

// XOR of the little-endian words in [from, to), as far as the file holds them.
uint32_t XorWords(FILE* file, int64_t from, int64_t to)
{
    uint32_t sum = 0;
    if (std::fseek(file, long(from), SEEK_SET) != 0)
        return 0;
    std::vector<uint8_t> chunk(64 * 1024);
    for (int64_t at = from; at < to;) {
        const size_t want = size_t(std::min<int64_t>(int64_t(chunk.size()), to - at));
        const size_t got = std::fread(chunk.data(), 1, want, file);
        for (size_t i = 0; i + 4 <= got; i += 4)
            sum ^= LittleEndian(chunk.data() + i);
        if (got < want)
            break;
        at += int64_t(got);
    }
    return sum;
}

// Checks one section's checksum and says so; true when it matched.
bool CheckSection(FILE* file, const char* name, int64_t start, int64_t end, int64_t length, uint32_t& sum)
{
    sum = XorWords(file, start, end);
    uint32_t stored = 0;
    if (end + 4 > length || !ReadWordAt(file, end, stored))
        stored = 0;
    char line[128];
    if (sum == stored) {
        std::snprintf(line, sizeof line, "%s CRC: 0x%08x PASSED.", name, sum);
        LogNarrow(line);
        return true;
    }
    std::snprintf(line, sizeof line, "%s CRC: 0x%08x 0x%08x FAILED.", name, sum, stored);
    LogNarrow(line);
    return false;
}

// The little-endian word at a target address, gathered from the image's records.
std::optional<uint32_t> ImageWordAt(ImageSource& image, uint32_t address)
{
    uint8_t bytes[4] = {};
    unsigned found = 0;
    UploadRecord record;
    image.Rewind();
    while (found != 0xF && image.ReadNextBlock(record) && record.DataCount() != 0) {
        const uint8_t* data = record.Frame() + 7;
        for (unsigned i = 0; i < 4; ++i) {
            const uint64_t at = uint64_t(address) + i;
            if (at >= record.Address() && at < uint64_t(record.Address()) + record.DataCount()) {
                bytes[i] = data[at - record.Address()];
                found |= 1u << i;
            }
        }
    }
    image.Rewind();
    if (found != 0xF)
        return std::nullopt;
    return LittleEndian(bytes);
}

// An S-record image carries no computed checksum; its PFLD section's stored
// checksum word stands for it when the image holds a valid PFLD header.
std::optional<uint32_t> SRecordPfldChecksum(ImageSource& image)
{
    const auto start = ImageWordAt(image, kImageBase + kPfldHeaderOffset);
    const auto end = ImageWordAt(image, kImageBase + kPfldHeaderOffset + 4);
    if (!start || !end || *start != kImageBase || *end <= kImageBase || *end >= kPfldEndLimit)
        return std::nullopt;
    return ImageWordAt(image, *end);
}

} // namespace

ImageSource& TheImageSource()
{
    return g_imageSource;
}

SRecordReader& TheSfldReader()
{
    return g_sfldReader;
}

bool PfldUpdate()
{
    return g_pfldUpdate;
}

void SetPfldUpdate(bool on)
{
    g_pfldUpdate = on;
}

std::string GetProgramDirectory()
{
    return platform::ProgramDirectory();
}

std::string SfldTempPath()
{
    return platform::TempDirectory() + kSfldTempFileName;
}

bool ExtractEmbeddedSfld(const std::wstring& imagePath)
{
    FILE* image = std::fopen(platform::Narrow(imagePath, kMaxPathBytes).c_str(), "rb");
    if (!image)
        return false;
    uint32_t fwStart = 0;
    uint32_t fwEnd = 0;
    const int64_t length = FileLength(image);
    if (!ReadWordAt(image, kFwHeaderOffset, fwStart) || fwStart != kFwStartAddress
        || !ReadWordAt(image, kFwHeaderOffset + 4, fwEnd)) {
        std::fclose(image);
        return false;
    }
    // Signed, so that an end address outside the file means "no section" rather than a wrap.
    const int64_t sectionStart = int64_t(fwEnd) - kImageBase + 4;
    const int64_t remaining = length - sectionStart;
    if (sectionStart < 0 || remaining < 4) {
        std::fclose(image);
        return false;
    }
    FILE* out = std::fopen(SfldTempPath().c_str(), "wb");
    if (!out) {
        std::fclose(image);
        return false;
    }

    uint32_t sum = 0;
    bool ok = std::fseek(image, long(sectionStart), SEEK_SET) == 0;
    for (int64_t left = remaining - 4; ok && left > 0;) {
        uint8_t piece[4] = {};
        const size_t n = size_t(std::min<int64_t>(4, left));
        ok = std::fread(piece, 1, n, image) == n && std::fwrite(piece, 1, n, out) == n;
        sum ^= LittleEndian(piece);
        left -= int64_t(n);
    }
    uint32_t stored = 0;
    ok = ok && ReadWordAt(image, length - 4, stored);
    ok = std::fclose(out) == 0 && ok;
    std::fclose(image);
    return ok && sum == stored;
}

uint32_t CheckBinaryImage(FILE* file)
{
    const int64_t length = FileLength(file);
    if (length < 0 || length % 4 != 0 || length < kMinImageBytes || length > kMaxImageBytes)
        return 0;

    uint32_t start = 0;
    uint32_t end = 0;
    if (!ReadWordAt(file, kPfldHeaderOffset, start) || !ReadWordAt(file, kPfldHeaderOffset + 4, end))
        return 0;

    char line[128];
    bool pfldPresent = false;
    bool checksumsOk = true;
    uint32_t pfldSum = 0;
    if (start == kImageBase && end > kImageBase && end < kPfldEndLimit) {
        pfldPresent = true;
        std::snprintf(line, sizeof line, "PFLD section found at: 0x%08x, 0x%08x", kImageBase, end);
        LogNarrow(line);
        checksumsOk = CheckSection(file, "PFLD", 0, int64_t(end) - kImageBase, length, pfldSum);
        if (!ReadWordAt(file, kFwHeaderOffset, start) || !ReadWordAt(file, kFwHeaderOffset + 4, end))
            start = end = 0;
    }
    if (!(start == kFwStartAddress && end > kFwStartAddress && end < kFwEndLimit)) {
        LogLine(L"Incorrect Image");
        return 0;
    }
    std::snprintf(line, sizeof line, "FW   section found at: 0x%08x, 0x%08x", kFwStartAddress, end);
    LogNarrow(line);
    if (!pfldPresent) {
        LogLine(L"PFLD section missed or corrupted");
        return 0;
    }

    uint32_t first = 0;
    if (!ReadWordAt(file, 0, first) || first >> 24 != kArmLoadTopByte) {
        LogLine(L"Incorrect PFLD Image");
        return 0;
    }
    if (!ReadWordAt(file, kFwOffset, first) || first >> 24 != kArmLoadTopByte) {
        LogLine(L"Incorrect FW Image");
        return 0;
    }
    uint32_t fwSum = 0;
    checksumsOk = CheckSection(file, "FW", kFwOffset, int64_t(end) - kImageBase, length, fwSum) && checksumsOk;
    return checksumsOk ? pfldSum : 0;
}

bool ChooseSecondaryLoader(const std::wstring& imagePath)
{
    LogLine(L"Opening SFLD ...");
    std::string path;
    if (ExtractEmbeddedSfld(imagePath)) {
        LogLine(L"SFLD section found");
        path = SfldTempPath();
    } else {
        LogLine(L"SFLD section skipped");
        path = GetProgramDirectory() + kSfldFileName;
    }
    if (!g_sfldReader.Open(path.c_str())) {
        StatusLine(Printf("Can not open '%s'", path.c_str()));
        return false;
    }
    if (!g_sfldReader.Scan()) {
        LogLine(L"Incorrect SFLD.");
        return false;
    }
    LogLine(L"Complete");
    return true;
}

bool PrepareImage(const std::wstring& imagePath)
{
    if (!ChooseSecondaryLoader(imagePath))
        return false;
    const std::string path = platform::Narrow(imagePath, kMaxPathBytes);
    ImageSource& image = g_imageSource;
    if (!image.Open(path.c_str())) {
        LogLine(Printf("File open error (%s)", path.c_str()));
        return false;
    }
    g_pfldUpdate = false;
    LogLine(Printf("Opening '%s' ...", path.c_str()));
    if (!image.Analyse()) {
        StatusLine(Printf("Image Format Error (%s)", path.c_str()));
        return false;
    }
    StatusLine(Printf("Image type: %s", ImageTypeName(image.Type())));

    std::optional<uint32_t> pfldChecksum;
    if (image.Type() == ImageType::MotorolaSRecord) {
        StatusLine(Printf("Image Start address: 0x%08X", image.StartAddress()));
        StatusLine(Printf("Image Entry point: 0x%08X", image.EntryPoint()));
        StatusLine(Printf("Image Size: %lu bytes", static_cast<unsigned long>(image.Size())));
        pfldChecksum = SRecordPfldChecksum(image);
    } else {
        pfldChecksum = CheckBinaryImage(image.BinaryFile());
        if (*pfldChecksum == 0)
            return false;
    }
    if (image.StartAddress() != kImageBase)
        return false;

    if (pfldChecksum && *pfldChecksum == TheReceiverInfo().pfld.crc) {
        LogLine(L"PFL is up to date");
        LogLine(L"Complete");
        return true;
    }
    const platform::Message question {L"PFLD update requiered.\r\nContinue ?", L" Warning: Unsafe mode",
                                      platform::MessageButtons::YesNo, platform::MessageIcon::None};
    if (platform::ShowMessage(question) != platform::MessageAnswer::Yes) {
        LogLine(L"Canceled by user");
        return false;
    }
    LogLine(L"PFLD mode ... On");
    g_pfldUpdate = true;
    LogLine(L"Complete");
    return true;
}

} // namespace velmor
