// Image and SFLD checks. Every offset taken from a file is checked against the
// file's length before it is used.
#include "loader/upload/image_preparation.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace velmor {
namespace {

constexpr size_t kMaxPathBytes = 511;
constexpr uint32_t kPfldHeaderOffset = kHeaderOffset;
constexpr uint32_t kFwHeaderOffset = kFwOffset + kHeaderOffset;
constexpr size_t kFrameDataOffset = 7;   // command, length, address, then the data

int64_t FileLength(FILE* file)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    return std::ftell(file);
}

// What the section checks read, by offset from the flash base: a binary file
// as it lies, or the flash an S-record image would fill.
class FlashView {
public:
    virtual ~FlashView() = default;
    // False where the image holds no such word.
    virtual bool Word(int64_t offset, uint32_t& word) = 0;
    // XOR of the little-endian words in [from, to), as far as the image holds them.
    virtual uint32_t Xor(int64_t from, int64_t to) = 0;
    // Whether every byte of [from, to) is in the image.
    virtual bool Holds(int64_t from, int64_t to) const = 0;
};

class BinaryView : public FlashView {
public:
    explicit BinaryView(FILE* file) : m_file(file) {}

    bool Word(int64_t offset, uint32_t& word) override { return ReadFileWord(m_file, offset, word); }

    uint32_t Xor(int64_t from, int64_t to) override
    {
        uint32_t sum = 0;
        if (std::fseek(m_file, long(from), SEEK_SET) != 0)
            return 0;
        std::vector<uint8_t> chunk(64 * 1024);
        for (int64_t at = from; at < to;) {
            const size_t want = size_t(std::min<int64_t>(int64_t(chunk.size()), to - at));
            const size_t got = std::fread(chunk.data(), 1, want, m_file);
            for (size_t i = 0; i + 4 <= got; i += 4)
                sum ^= LittleEndianWord(chunk.data() + i);
            if (got < want)
                break;
            at += int64_t(got);
        }
        return sum;
    }

    // A short file reads as a stored checksum of 0, which then fails.
    bool Holds(int64_t, int64_t) const override { return true; }

private:
    FILE* m_file;
};

// The flash an S-record image fills. Loading refuses data outside the flash
// and data given twice, which a binary image cannot have.
class SRecordFlash : public FlashView {
public:
    SRecordFlash() : m_bytes(kFlashBytes), m_present(kFlashBytes) {}

    bool Load(ImageSource& image, Reporter& report)
    {
        UploadRecord record;
        image.Rewind();
        bool ok = true;
        while (ok) {
            if (!image.ReadNextBlock(record)) {
                report.StatusLine(L"Image read error.");
                ok = false;
            } else if (record.DataCount() == 0) {
                break;
            } else {
                ok = Take(record, report);
            }
        }
        image.Rewind();
        return ok;
    }

    bool Word(int64_t offset, uint32_t& word) override
    {
        if (!Holds(offset, offset + 4))
            return false;
        word = LittleEndianWord(&m_bytes[size_t(offset)]);
        return true;
    }

    uint32_t Xor(int64_t from, int64_t to) override
    {
        uint32_t sum = 0;
        for (int64_t at = std::max<int64_t>(from, 0); at + 4 <= std::min<int64_t>(to, kFlashBytes); at += 4)
            sum ^= LittleEndianWord(&m_bytes[size_t(at)]);
        return sum;
    }

    bool Holds(int64_t from, int64_t to) const override
    {
        if (from < 0 || to > int64_t(kFlashBytes) || from >= to)
            return false;
        return std::all_of(m_present.begin() + from, m_present.begin() + to, [](bool b) { return b; });
    }

    bool HoldsAnyFrom(int64_t from) const
    {
        return std::any_of(m_present.begin() + from, m_present.end(), [](bool b) { return b; });
    }

private:
    static constexpr size_t kFlashBytes = kFlashEnd - kFlashBase;

    bool Take(const UploadRecord& record, Reporter& report)
    {
        const uint64_t address = record.Address();
        if (address < kFlashBase || address + record.DataCount() > kFlashEnd) {
            report.LogLine(Printf("Image data outside the flash at 0x%08X", record.Address()));
            return false;
        }
        const uint8_t* data = record.Frame() + kFrameDataOffset;
        const size_t offset = size_t(address - kFlashBase);
        for (size_t i = 0; i < record.DataCount(); ++i) {
            if (m_present[offset + i]) {
                report.LogLine(Printf("Image data given twice at 0x%08X", uint32_t(address + i)));
                return false;
            }
            m_present[offset + i] = true;
            m_bytes[offset + i] = data[i];
        }
        return true;
    }

    std::vector<uint8_t> m_bytes;
    std::vector<bool> m_present;
};

// Checks one section's checksum and says so; true when it matched.
bool CheckSection(Reporter& report, FlashView& view, const char* name, int64_t start, int64_t end, uint32_t& sum)
{
    char line[128];
    if (!view.Holds(start, end + 4)) {
        std::snprintf(line, sizeof line, "%s section incomplete", name);
        LogNarrow(report, line);
        return false;
    }
    sum = view.Xor(start, end);
    uint32_t stored = 0;
    if (!view.Word(end, stored))
        stored = 0;
    if (sum == stored) {
        std::snprintf(line, sizeof line, "%s CRC: 0x%08x PASSED.", name, sum);
        LogNarrow(report, line);
        return true;
    }
    std::snprintf(line, sizeof line, "%s CRC: 0x%08x 0x%08x FAILED.", name, sum, stored);
    LogNarrow(report, line);
    return false;
}

// Each section opens with an ARM word load; says `refusal` when not.
bool CheckOpcode(Reporter& report, FlashView& view, int64_t offset, const wchar_t* refusal)
{
    uint32_t first = 0;
    if (view.Word(offset, first) && first >> 24 == kArmLoadTopByte)
        return true;
    report.LogLine(refusal);
    return false;
}

// The PFLD section checksum when the image's sections pass every check, else 0.
// Without `fwRequired` an image that holds no FW header passes on its PFLD alone.
uint32_t CheckSections(Reporter& report, FlashView& view, bool fwRequired)
{
    uint32_t start = 0;
    uint32_t end = 0;
    if (!view.Word(kPfldHeaderOffset, start) || !view.Word(kPfldHeaderOffset + 4, end))
        start = end = 0;

    char line[128];
    bool pfldPresent = false;
    bool checksumsOk = true;
    uint32_t pfldSum = 0;
    if (start == kFlashBase && end > kFlashBase && end < kFwStart) {
        pfldPresent = true;
        std::snprintf(line, sizeof line, "PFLD section found at: 0x%08x, 0x%08x", kFlashBase, end);
        LogNarrow(report, line);
        checksumsOk = CheckSection(report, view, "PFLD", 0, int64_t(end) - kFlashBase, pfldSum);
        if (!view.Word(kFwHeaderOffset, start) || !view.Word(kFwHeaderOffset + 4, end)) {
            if (!fwRequired)
                return CheckOpcode(report, view, 0, L"Incorrect PFLD Image") && checksumsOk ? pfldSum : 0;
            start = end = 0;
        }
    }
    if (!(start == kFwStart && end > kFwStart && end < kFlashEnd)) {
        report.LogLine(L"Incorrect Image");
        return 0;
    }
    std::snprintf(line, sizeof line, "FW   section found at: 0x%08x, 0x%08x", kFwStart, end);
    LogNarrow(report, line);
    if (!pfldPresent) {
        report.LogLine(L"PFLD section missed or corrupted");
        return 0;
    }

    if (!CheckOpcode(report, view, 0, L"Incorrect PFLD Image") || !CheckOpcode(report, view, kFwOffset, L"Incorrect FW Image"))
        return 0;
    uint32_t fwSum = 0;
    checksumsOk = CheckSection(report, view, "FW", kFwOffset, int64_t(end) - kFlashBase, fwSum) && checksumsOk;
    return checksumsOk ? pfldSum : 0;
}

} // namespace

bool ReadFileWord(FILE* file, int64_t offset, uint32_t& word)
{
    uint8_t b[4];
    if (std::fseek(file, long(offset), SEEK_SET) != 0 || std::fread(b, 1, 4, file) != 4)
        return false;
    word = LittleEndianWord(b);
    return true;
}

FILE* ExtractEmbeddedSfld(const std::wstring& imagePath, std::wstring& why)
{
    why.clear();
    FILE* image = std::fopen(platform::Narrow(imagePath, kMaxPathBytes).c_str(), "rb");
    if (!image)
        return nullptr;
    uint32_t fwStart = 0;
    uint32_t fwEnd = 0;
    const int64_t length = FileLength(image);
    if (!ReadFileWord(image, kFwHeaderOffset, fwStart) || fwStart != kFwStart
        || !ReadFileWord(image, kFwHeaderOffset + 4, fwEnd)) {
        std::fclose(image);
        return nullptr;
    }
    // Signed, so that an end address outside the file means "no section" rather than a wrap.
    const int64_t sectionStart = int64_t(fwEnd) - kFlashBase + 4;
    const int64_t remaining = length - sectionStart;
    if (sectionStart < 0 || remaining < 4) {
        std::fclose(image);
        return nullptr;
    }
    if (remaining == 4) {
        // Padding after the FW checksum word, not a loader.
        why = L"SFLD section empty";
        std::fclose(image);
        return nullptr;
    }
    // The copy never has a name another process could open, replace or point elsewhere.
    FILE* copy = platform::CreatePrivateTempFile();
    if (!copy) {
        why = L"SFLD section: no private temp file";
        std::fclose(image);
        return nullptr;
    }

    uint32_t sum = 0;
    bool ok = std::fseek(image, long(sectionStart), SEEK_SET) == 0;
    for (int64_t left = remaining - 4; ok && left > 0;) {
        uint8_t piece[4] = {};
        const size_t n = size_t(std::min<int64_t>(4, left));
        ok = std::fread(piece, 1, n, image) == n && std::fwrite(piece, 1, n, copy) == n;
        sum ^= LittleEndianWord(piece);
        left -= int64_t(n);
    }
    uint32_t stored = 0;
    ok = ok && ReadFileWord(image, length - 4, stored) && std::fflush(copy) == 0;
    std::fclose(image);
    if (!ok || sum != stored) {
        why = ok ? Printf("SFLD section CRC: 0x%08x 0x%08x FAILED.", sum, stored) : L"SFLD section unreadable";
        std::fclose(copy);
        return nullptr;
    }
    std::rewind(copy);
    return copy;
}

uint32_t CheckBinaryImage(FILE* file, Reporter& report)
{
    const int64_t length = FileLength(file);
    if (length < 0 || length % 4 != 0 || length < kMinImageBytes || length > kMaxImageBytes)
        return 0;
    BinaryView view(file);
    return CheckSections(report, view, true);
}

namespace {

// The image's own SFLD section, when it is one: a matching checksum, S-record
// text, and data to send. Otherwise the reason is logged and nothing is taken.
bool TakeEmbeddedSfld(const std::wstring& imagePath, SRecordReader& sfld, Reporter& report)
{
    std::wstring why;
    FILE* copy = ExtractEmbeddedSfld(imagePath, why);
    if (copy) {
        sfld.Adopt(copy);
        if (!sfld.Scan())
            why = L"SFLD section is no S-record file";
        else if (!sfld.HasData())
            why = L"SFLD section empty";
        else
            return true;
        sfld.Close();
    }
    if (!why.empty())
        report.LogLine(why);
    return false;
}

} // namespace

bool ChooseSecondaryLoader(const std::wstring& imagePath, SRecordReader& sfld, Reporter& report)
{
    report.LogLine(L"Opening SFLD ...");
    if (TakeEmbeddedSfld(imagePath, sfld, report)) {
        report.LogLine(L"SFLD section found");
        report.LogLine(L"Complete");
        return true;
    }
    report.LogLine(L"SFLD section skipped");
    // Beside the program first (a build folder, or a file put there on purpose),
    // then in the installed data folder.
    const std::string programDir = platform::ProgramDirectory();
    const std::string besideProgram = programDir + kSfldFileName;
    const std::string installed = platform::DataDirectory(programDir) + kSfldFileName;
    if (!sfld.Open(besideProgram.c_str()) && !sfld.Open(installed.c_str())) {
        report.StatusLine(Printf("Can not open '%s'", besideProgram.c_str()));
        report.StatusLine(Printf("Can not open '%s'", installed.c_str()));
        return false;
    }
    // An SFLD without data would leave the resident loader running nothing.
    if (!sfld.Scan() || !sfld.HasData()) {
        report.LogLine(L"Incorrect SFLD.");
        return false;
    }
    report.LogLine(L"Complete");
    return true;
}

bool PrepareImage(const std::wstring& imagePath, UploadJob& job, Reporter& report)
{
    if (!ChooseSecondaryLoader(imagePath, job.sfld, report))
        return false;
    const std::string path = platform::Narrow(imagePath, kMaxPathBytes);
    ImageSource& image = job.image;
    if (!image.Open(path.c_str())) {
        report.LogLine(Printf("File open error (%s)", path.c_str()));
        return false;
    }
    job.pfldUpdate = false;
    report.LogLine(Printf("Opening '%s' ...", path.c_str()));
    if (!image.Analyse()) {
        report.StatusLine(Printf("Image Format Error (%s)", path.c_str()));
        return false;
    }
    report.StatusLine(Printf("Image type: %s", ImageTypeName(image.Type())));

    uint32_t pfldChecksum = 0;
    if (image.Type() == ImageType::MotorolaSRecord) {
        report.StatusLine(Printf("Image Start address: 0x%08X", image.StartAddress()));
        report.StatusLine(Printf("Image Entry point: 0x%08X", image.EntryPoint()));
        report.StatusLine(Printf("Image Size: %lu bytes", static_cast<unsigned long>(image.Size())));
        // The checks a binary image gets, on the flash the records would fill.
        auto flash = std::make_unique<SRecordFlash>();
        if (!flash->Load(image, report) || image.StartAddress() != kFlashBase)
            return false;
        pfldChecksum = CheckSections(report, *flash, flash->HoldsAnyFrom(kFwOffset));
    } else {
        pfldChecksum = CheckBinaryImage(image.BinaryFile(), report);
    }
    if (pfldChecksum == 0 || image.StartAddress() != kFlashBase)
        return false;

    if (pfldChecksum == job.receiver.pfld.crc) {
        report.LogLine(L"PFL is up to date");
        report.LogLine(L"Complete");
        return true;
    }
    const platform::Message question {L"PFLD update requiered.\r\nContinue ?", L" Warning: Unsafe mode",
                                      platform::MessageButtons::YesNo, platform::MessageIcon::None};
    if (report.Ask(question) != platform::MessageAnswer::Yes) {
        report.LogLine(L"Canceled by user");
        return false;
    }
    report.LogLine(L"PFLD mode ... On");
    job.pfldUpdate = true;
    report.LogLine(L"Complete");
    return true;
}

} // namespace velmor
