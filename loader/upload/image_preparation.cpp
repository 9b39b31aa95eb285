// Image and SFLD checks. Every offset taken from an image is checked against
// its length before it is used.
#include "loader/upload/image_preparation.h"

#include "loader/log/log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace velmor {
namespace {

constexpr uint32_t kPfldHeaderOffset = kHeaderOffset;
constexpr uint32_t kFwHeaderOffset = kFwOffset + kHeaderOffset;

// The little-endian word at an offset; false where the bytes end first.
bool WordAt(const std::vector<uint8_t>& bytes, int64_t offset, uint32_t& word)
{
    if (offset < 0 || uint64_t(offset) + 4 > bytes.size())
        return false;
    word = LittleEndianWord(bytes.data() + offset);
    return true;
}

// Why a check refused the image: the log already says so in the loader's
// words; this is the reason a front end shows on its own.
Outcome Refused(std::string reason)
{
    Outcome outcome = Outcome::Failed(Fault::ImageRefused, Phase::Connect);
    outcome.reason = std::move(reason);
    return outcome;
}

// What the section checks read, by offset from the flash base: a binary image
// as it lies, or the flash an S-record image would fill.
class FlashView {
public:
    virtual ~FlashView() = default;
    // False where the image holds no such word.
    virtual bool Word(int64_t offset, uint32_t& word) const = 0;
    // XOR of the little-endian words in [from, to), as far as the image holds them.
    virtual uint32_t Xor(int64_t from, int64_t to) const = 0;
    // Whether every byte of [from, to) is in the image.
    virtual bool Holds(int64_t from, int64_t to) const = 0;
};

class BinaryView : public FlashView {
public:
    explicit BinaryView(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {}

    bool Word(int64_t offset, uint32_t& word) const override { return WordAt(m_bytes, offset, word); }

    uint32_t Xor(int64_t from, int64_t to) const override
    {
        uint32_t sum = 0;
        for (int64_t at = std::max<int64_t>(from, 0); at + 4 <= std::min<int64_t>(to, int64_t(m_bytes.size())); at += 4)
            sum ^= LittleEndianWord(m_bytes.data() + at);
        return sum;
    }

    // A short image reads as a stored checksum of 0, which then fails.
    bool Holds(int64_t, int64_t) const override { return true; }

private:
    const std::vector<uint8_t>& m_bytes;
};

// The flash an S-record image fills. Loading refuses data outside the flash
// and data given twice, which a binary image cannot have.
class SRecordFlash : public FlashView {
public:
    SRecordFlash() : m_bytes(kFlashBytes), m_present(kFlashBytes) {}

    // Empty when every record was taken, else why not.
    std::string Load(ImageSource& image, Reporter& report)
    {
        UploadRecord record;
        image.Rewind();
        std::string refusal;
        while (refusal.empty()) {
            if (!image.ReadNextBlock(record)) {
                report.StatusLine(L"Image read error.");
                refusal = "the image could not be read";
            } else if (record.DataCount() == 0) {
                break;
            } else {
                refusal = Take(record, report);
            }
        }
        image.Rewind();
        return refusal;
    }

    bool Word(int64_t offset, uint32_t& word) const override
    {
        if (!Holds(offset, offset + 4))
            return false;
        word = LittleEndianWord(&m_bytes[size_t(offset)]);
        return true;
    }

    uint32_t Xor(int64_t from, int64_t to) const override
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

    std::string Take(const UploadRecord& record, Reporter& report)
    {
        const uint64_t address = record.Address();
        if (address < kFlashBase || address + record.DataCount() > kFlashEnd) {
            report.LogLine(Printf("Image data outside the flash at 0x%08X", record.Address()));
            return "data outside the flash at " + Hex(record.Address());
        }
        const uint8_t* data = record.Data();
        const size_t offset = size_t(address - kFlashBase);
        for (size_t i = 0; i < record.DataCount(); ++i) {
            if (m_present[offset + i]) {
                report.LogLine(Printf("Image data given twice at 0x%08X", uint32_t(address + i)));
                return "data given twice at " + Hex(uint32_t(address + i));
            }
            m_present[offset + i] = true;
            m_bytes[offset + i] = data[i];
        }
        return {};
    }

    std::vector<uint8_t> m_bytes;
    std::vector<bool> m_present;
};

// Checks one section's checksum and says so; empty when it matched, else why not.
std::string CheckSection(Reporter& report, const FlashView& view, const char* name, int64_t start, int64_t end,
                         uint32_t& sum)
{
    char line[128];
    if (!view.Holds(start, end + 4)) {
        std::snprintf(line, sizeof line, "%s section incomplete", name);
        LogNarrow(report, line);
        return line;
    }
    sum = view.Xor(start, end);
    uint32_t stored = 0;
    if (!view.Word(end, stored))
        stored = 0;
    if (sum == stored) {
        std::snprintf(line, sizeof line, "%s CRC: 0x%08x PASSED.", name, sum);
        LogNarrow(report, line);
        return {};
    }
    std::snprintf(line, sizeof line, "%s CRC: 0x%08x 0x%08x FAILED.", name, sum, stored);
    LogNarrow(report, line);
    return std::string(name) + " checksum " + Hex(sum) + " does not match the stored " + Hex(stored);
}

// Each section opens with an ARM word load; says `refusal` when not.
std::string CheckOpcode(Reporter& report, const FlashView& view, int64_t offset, const wchar_t* refusal)
{
    uint32_t first = 0;
    if (view.Word(offset, first) && first >> 24 == kArmLoadTopByte)
        return {};
    report.LogLine(refusal);
    return platform::Narrow(refusal);
}

// Checks the image's sections; empty with the PFLD section checksum in
// `pfldSum` when they pass, else why not. Without `fwRequired` an image that
// holds no FW header passes on its PFLD alone. A PFLD checksum of 0 fails:
// it would read as "the receiver has none".
std::string CheckSections(Reporter& report, const FlashView& view, bool fwRequired, uint32_t& pfldSum)
{
    pfldSum = 0;
    uint32_t start = 0;
    uint32_t end = 0;
    if (!view.Word(kPfldHeaderOffset, start) || !view.Word(kPfldHeaderOffset + 4, end))
        start = end = 0;

    char line[128];
    bool pfldPresent = false;
    std::string checksums;
    if (start == kFlashBase && end > kFlashBase && end < kFwStart) {
        pfldPresent = true;
        std::snprintf(line, sizeof line, "PFLD section found at: 0x%08x, 0x%08x", kFlashBase, end);
        LogNarrow(report, line);
        checksums = CheckSection(report, view, "PFLD", 0, int64_t(end) - kFlashBase, pfldSum);
        if (!view.Word(kFwHeaderOffset, start) || !view.Word(kFwHeaderOffset + 4, end)) {
            if (!fwRequired) {
                std::string why = CheckOpcode(report, view, 0, L"Incorrect PFLD Image");
                return !why.empty() ? why : !checksums.empty() ? checksums : pfldSum == 0 ? "PFLD checksum 0" : "";
            }
            start = end = 0;
        }
    }
    if (!(start == kFwStart && end > kFwStart && end < kFlashEnd)) {
        report.LogLine(L"Incorrect Image");
        return "Incorrect Image: no valid section header";
    }
    std::snprintf(line, sizeof line, "FW   section found at: 0x%08x, 0x%08x", kFwStart, end);
    LogNarrow(report, line);
    if (!pfldPresent) {
        report.LogLine(L"PFLD section missed or corrupted");
        return "PFLD section missed or corrupted";
    }

    for (std::string why : {CheckOpcode(report, view, 0, L"Incorrect PFLD Image"),
                            CheckOpcode(report, view, kFwOffset, L"Incorrect FW Image")})
        if (!why.empty())
            return why;
    uint32_t fwSum = 0;
    const std::string fw = CheckSection(report, view, "FW", kFwOffset, int64_t(end) - kFlashBase, fwSum);
    if (!checksums.empty())
        return checksums;
    if (!fw.empty())
        return fw;
    return pfldSum == 0 ? "PFLD checksum 0" : "";
}

// The image's own SFLD section, when it is one: a matching checksum, S-record
// text, and data to send. Otherwise the reason is logged and nothing is taken.
bool TakeEmbeddedSfld(const ImageSnapshot& image, UploadJob& job, Reporter& report)
{
    std::wstring why;
    std::vector<uint8_t> section = ExtractEmbeddedSfld(image.bytes, why);
    if (!section.empty()) {
        job.sfldBytes = MakeSnapshot(image.path + " (SFLD section)", std::move(section));
        job.sfld.Adopt(OpenBytes(job.sfldBytes->bytes));
        if (!job.sfld.Scan())
            why = L"SFLD section is no S-record file";
        else if (!job.sfld.HasData())
            why = L"SFLD section empty";
        else
            return true;
        job.sfld.Close();
        job.sfldBytes.reset();
    }
    if (!why.empty())
        report.LogLine(why);
    return false;
}

// The image's SFLD section, else sfld.hex beside the program, read once.
Outcome ChooseSecondaryLoader(const ImageSnapshot* image, UploadJob& job, Reporter& report)
{
    report.LogLine(L"Opening SFLD ...");
    if (image && TakeEmbeddedSfld(*image, job, report)) {
        report.LogLine(L"SFLD section found");
        report.LogLine(L"Complete");
        return {};
    }
    report.LogLine(L"SFLD section skipped");
    // Beside the program first (a build folder, or a file put there on purpose),
    // then in the installed data folder.
    const std::string programDir = platform::ProgramDirectory();
    const std::string besideProgram = programDir + kSfldFileName;
    const std::string installed = platform::DataDirectory(programDir) + kSfldFileName;
    std::string path = besideProgram;
    std::vector<uint8_t> bytes;
    std::string why;
    if (!platform::ReadRegularFile(path, kMaxSfldFileBytes, bytes, why)) {
        path = installed;
        if (!platform::ReadRegularFile(path, kMaxSfldFileBytes, bytes, why)) {
            report.StatusLine(Printf("Can not open '%s'", besideProgram.c_str()));
            report.StatusLine(Printf("Can not open '%s'", installed.c_str()));
            return Refused("no SFLD: neither " + besideProgram + " nor " + installed + ": " + why);
        }
    }
    if (bytes.empty()) {
        report.StatusLine(Printf("Can not open '%s'", path.c_str()));
        return Refused("no SFLD: " + path + " is empty");
    }
    job.sfldBytes = MakeSnapshot(path, std::move(bytes));
    job.sfld.Adopt(OpenBytes(job.sfldBytes->bytes));
    // An SFLD without data would leave the resident loader running nothing.
    if (!job.sfld.Scan() || !job.sfld.HasData()) {
        report.LogLine(L"Incorrect SFLD.");
        return Refused(path + " is no SFLD: no S-record text with data");
    }
    report.LogLine(L"Complete");
    return {};
}

} // namespace

ImageFile ReadImage(const std::string& path)
{
    ImageFile file;
    file.path = path;
    if (path.size() > kMaxPathBytes) {
        file.why = "the path is longer than " + std::to_string(kMaxPathBytes) + " bytes";
        return file;
    }
    std::vector<uint8_t> bytes;
    if (platform::ReadRegularFile(path, kMaxImageBytes, bytes, file.why))
        file.snapshot = MakeSnapshot(path, std::move(bytes));
    return file;
}

std::vector<uint8_t> ExtractEmbeddedSfld(const std::vector<uint8_t>& image, std::wstring& why)
{
    why.clear();
    uint32_t fwStart = 0;
    uint32_t fwEnd = 0;
    if (!WordAt(image, kFwHeaderOffset, fwStart) || fwStart != kFwStart || !WordAt(image, kFwHeaderOffset + 4, fwEnd))
        return {};
    // Signed, so that an end address outside the image means "no section" rather than a wrap.
    const int64_t sectionStart = int64_t(fwEnd) - kFlashBase + 4;
    const int64_t remaining = int64_t(image.size()) - sectionStart;
    if (sectionStart < 0 || remaining < 4)
        return {};
    if (remaining == 4) {
        // Padding after the FW checksum word, not a loader.
        why = L"SFLD section empty";
        return {};
    }
    std::vector<uint8_t> section(image.begin() + sectionStart, image.end() - 4);
    uint32_t sum = 0;
    for (size_t at = 0; at < section.size(); at += 4) {
        uint8_t piece[4] = {};
        std::copy_n(section.begin() + long(at), std::min<size_t>(4, section.size() - at), piece);
        sum ^= LittleEndianWord(piece);
    }
    uint32_t stored = 0;
    WordAt(image, int64_t(image.size()) - 4, stored);
    if (sum != stored) {
        why = Printf("SFLD section CRC: 0x%08x 0x%08x FAILED.", sum, stored);
        return {};
    }
    return section;
}

Outcome CheckImage(const ImageFile& file, UploadJob& job, Reporter& report, uint32_t& pfldChecksum)
{
    pfldChecksum = 0;
    job.imageBytes = file.snapshot;
    if (Outcome sfld = ChooseSecondaryLoader(file.snapshot.get(), job, report); !sfld.Ok())
        return sfld;
    const std::string& path = file.path;
    ImageSource& source = job.image;
    if (!file.snapshot) {
        report.LogLine(Printf("File open error (%s)", path.c_str()));
        return Refused(path + ": " + file.why);
    }
    const ImageSnapshot& image = *file.snapshot;
    if (image.bytes.empty()) {
        report.LogLine(Printf("Image file is empty (%s)", path.c_str()));
        return Refused("the image file is empty");
    }
    if (!source.Open(image.bytes)) {
        report.LogLine(Printf("File open error (%s)", path.c_str()));
        return Refused("the image could not be opened");
    }
    job.pfldUpdate = false;
    report.LogLine(Printf("Opening '%s' ...", path.c_str()));
    report.LogLine(Printf("Image SHA-256: %s", ToHex(image.sha256).c_str()));
    if (!source.Analyse()) {
        report.StatusLine(Printf("Image Format Error (%s)", path.c_str()));
        if (source.Type() == ImageType::MotorolaSRecord) {
            const std::string where = "S-record line " + std::to_string(source.ErrorLine()) + " is malformed";
            report.LogLine(platform::Widen(where));
            return Refused(where);
        }
        return Refused("no FW section header at " + Hex(kFwStart + kHeaderOffset));
    }
    report.StatusLine(Printf("Image type: %s", ImageTypeName(source.Type())));

    std::string refusal;
    if (source.Type() == ImageType::MotorolaSRecord) {
        report.StatusLine(Printf("Image Start address: 0x%08X", source.StartAddress()));
        report.StatusLine(Printf("Image Entry point: 0x%08X", source.EntryPoint()));
        report.StatusLine(Printf("Image Size: %lu bytes", static_cast<unsigned long>(source.Size())));
        // The checks a binary image gets, on the flash the records would fill.
        auto flash = std::make_unique<SRecordFlash>();
        refusal = flash->Load(source, report);
        if (refusal.empty() && source.StartAddress() != kFlashBase)
            return Refused("the image starts at " + Hex(source.StartAddress()) + ", not at " + Hex(kFlashBase));
        if (refusal.empty())
            refusal = CheckSections(report, *flash, flash->HoldsAnyFrom(kFwOffset), pfldChecksum);
    } else {
        const uint64_t length = image.bytes.size();
        if (length % 4 != 0 || length < kMinImageBytes || length > kMaxImageBytes)
            return Refused("a binary image is a multiple of 4 bytes long, from " + std::to_string(kMinImageBytes)
                           + " bytes up to " + Hex(kMaxImageBytes) + "; this one has " + std::to_string(length));
        refusal = CheckSections(report, BinaryView(image.bytes), true, pfldChecksum);
    }
    if (!refusal.empty())
        return Refused(refusal);
    if (source.StartAddress() != kFlashBase)
        return Refused("the image starts at " + Hex(source.StartAddress()) + ", not at " + Hex(kFlashBase));
    return {};
}

Outcome PrepareImage(const ImageFile& file, UploadJob& job, Reporter& report)
{
    uint32_t pfldChecksum = 0;
    if (Outcome checked = CheckImage(file, job, report, pfldChecksum); !checked.Ok())
        return checked;
    if (pfldChecksum == job.receiver.pfld.crc) {
        report.LogLine(L"PFL is up to date");
        report.LogLine(L"Complete");
        return {};
    }
    switch (job.askPfld ? job.askPfld() : PfldAnswer::NotAllowed) {
    case PfldAnswer::NotAllowed:
        return Outcome::Failed(Fault::PfldNeedsAnswer, Phase::Connect);
    case PfldAnswer::No:
        report.LogLine(L"Canceled by user");
        return Outcome::Failed(Fault::PfldDeclined, Phase::Connect);
    case PfldAnswer::Yes:
        break;
    }
    report.LogLine(L"PFLD mode ... On");
    job.pfldUpdate = true;
    report.LogLine(L"Complete");
    return {};
}

} // namespace velmor
