// Building sample images.
#include "receiver/sample_image.h"

#include "receiver/flash_layout.h"
#include "receiver/sfld_layout.h"
#include "receiver/srecord_writer.h"
#include "receiver/xor_checksum.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace receiver {
namespace {

constexpr uint32_t kFwOffset = kFwStart - kFlashBase;
constexpr uint32_t kMinSectionSize = kHeaderSize + kVersionAreaSize;
constexpr uint32_t kMaxPfldSize = kPfldLimit - kPfldStart - 4;   // its checksum word must fit below the FW
constexpr uint32_t kMaxFwSize = kFwLimit - kFwStart - 4;
constexpr size_t kVectorWords = 8;               // the exception vectors before the header
constexpr size_t kMaxVersionDigits = 3;
constexpr std::string_view kPfldVersionPrefix = "PFLD v";
constexpr std::string_view kImageHeader = "velmor sample image";
constexpr std::string_view kSfldHeader = "velmor sample sfld";
constexpr size_t kSfldSize = 1024;
constexpr size_t kSfldVersionOffset = 0x40;        // past the exception vectors

void PutWord(std::vector<uint8_t>& image, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        image[offset + i] = uint8_t(value >> (8 * i));
}

bool IsDigits(std::string_view text)
{
    return !text.empty() && text.size() <= kMaxVersionDigits
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void CheckSize(uint32_t size, uint32_t maximum, const char* what)
{
    if (size < kMinSectionSize || size > maximum || size % 4 != 0)
        throw std::invalid_argument(std::string(what) + " size must be a multiple of 4 from "
                                    + std::to_string(kMinSectionSize) + " to " + std::to_string(maximum));
}

void Validate(const SampleImageOptions& options)
{
    const size_t dot = options.pfldVersion.find('.');
    if (dot == std::string::npos || !IsDigits(std::string_view(options.pfldVersion).substr(0, dot))
        || !IsDigits(std::string_view(options.pfldVersion).substr(dot + 1)))
        throw std::invalid_argument("PFLD version must be <major>.<minor>: " + options.pfldVersion);

    const auto& fw = options.fwVersion;
    // The loader's side ends the version field at the first byte up to '*'.
    const bool printable = std::all_of(fw.begin(), fw.end(), [](char c) { return c > '*' && c <= '~' && c != ','; });
    if (fw.empty() || fw.size() > kMaxFwVersionLength || !printable)
        throw std::invalid_argument("FW version text must be 1 to " + std::to_string(kMaxFwVersionLength)
                                    + " printable characters without blanks, ',' or '*'");

    CheckSize(options.pfldSize, kMaxPfldSize, "PFLD");
    CheckSize(options.fwSize, kMaxFwSize, "FW");
    if (!options.sfldPath.empty() && !options.sfldVersion.empty())
        throw std::invalid_argument("an SFLD file and an SFLD version text exclude each other");
    if (options.badChecksum == ChecksumFault::Sfld && options.sfldPath.empty() && options.sfldVersion.empty())
        throw std::invalid_argument("a wrong SFLD checksum needs an SFLD section");
}

void ValidateSfldVersion(std::string_view version)
{
    const bool printable = std::all_of(version.begin(), version.end(), [](char c) { return c >= ' ' && c <= '~'; });
    if (version.empty() || version.size() > kMaxSfldVersionLength || !printable)
        throw std::invalid_argument("SFLD version text must be 1 to " + std::to_string(kMaxSfldVersionLength)
                                    + " printable characters");
}

// One section at `offset`: filler, exception vectors, header and version area.
void BuildSection(std::vector<uint8_t>& image, uint32_t offset, uint32_t size, const std::string& version,
                  uint32_t& filler, bool erased = false)
{
    for (uint32_t i = 0; i < size; ++i) {
        filler ^= filler << 13;
        filler ^= filler >> 17;
        filler ^= filler << 5;
        image[offset + i] = erased ? kErasedByte : uint8_t(filler);
    }
    for (size_t i = 0; i < kVectorWords; ++i)
        PutWord(image, offset + 4 * i, kSectionFirstWord);
    PutWord(image, offset + kHeaderStartOffset, kFlashBase + offset);
    PutWord(image, offset + kHeaderEndOffset, kFlashBase + offset + size);

    const auto area = image.begin() + offset + size - kVersionAreaSize;
    std::fill_n(area, kVersionAreaSize, 0);
    std::copy(version.begin(), version.end(), area);
}

uint32_t SectionChecksum(const std::vector<uint8_t>& image, uint32_t offset, uint32_t size)
{
    return XorWords(std::span(image).subspan(offset, size));
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in && !in.eof())
        throw std::runtime_error("cannot read SFLD file " + path);
    if (text.empty())
        throw std::runtime_error("SFLD file " + path + " is empty or unreadable");
    return text;
}

// The whole image must be a multiple of 4 bytes long. CRs before the final LF
// fill it up: the loader's S-record reader ends each line at its first CR,
// whereas an extra empty line would stop it.
std::string PaddedSfld(std::string text)
{
    if (text.back() != '\n')
        text += '\n';
    const size_t padding = (4 - text.size() % 4) % 4;
    text.insert(text.size() - 1, padding, '\r');
    return text;
}

} // namespace

std::vector<uint8_t> MakeSampleImage(const SampleImageOptions& options)
{
    Validate(options);
    const uint32_t pfldEnd = options.pfldSize;           // offsets in the file
    const uint32_t fwEnd = kFwOffset + options.fwSize;
    std::vector<uint8_t> image(fwEnd + 4, kErasedByte);

    uint32_t filler = options.seed * 2654435761u + 1;
    if (filler == 0)
        filler = 1;   // xorshift would stay at 0 for good
    BuildSection(image, 0, options.pfldSize, std::string(kPfldVersionPrefix) + options.pfldVersion, filler);
    BuildSection(image, kFwOffset, options.fwSize, std::string(kFwVersionMarker) + options.fwVersion, filler,
                 options.fwErased);

    // A PFLD checksum of 0 reads as "no checksum" on the loader's side; move it
    // by a padding byte of the version area, which stays a text end.
    uint32_t pfldChecksum = SectionChecksum(image, 0, pfldEnd);
    if (pfldChecksum == 0) {
        image[pfldEnd - 1] = 1;
        pfldChecksum = SectionChecksum(image, 0, pfldEnd);
    }
    const uint32_t fwChecksum = SectionChecksum(image, kFwOffset, options.fwSize);
    PutWord(image, pfldEnd, options.badChecksum == ChecksumFault::Pfld ? ~pfldChecksum : pfldChecksum);
    PutWord(image, fwEnd, options.badChecksum == ChecksumFault::Fw ? ~fwChecksum : fwChecksum);

    if (!options.sfldPath.empty() || !options.sfldVersion.empty()) {
        const std::string sfld = PaddedSfld(options.sfldPath.empty() ? MakeSampleSfld(options.seed, options.sfldVersion)
                                                                     : ReadText(options.sfldPath));
        const uint32_t checksum = XorWords(std::span(reinterpret_cast<const uint8_t*>(sfld.data()), sfld.size()));
        image.insert(image.end(), sfld.begin(), sfld.end());
        image.resize(image.size() + 4);
        PutWord(image, image.size() - 4, options.badChecksum == ChecksumFault::Sfld ? ~checksum : checksum);
    }
    return image;
}

std::string MakeSampleSRecords(const SampleImageOptions& options)
{
    if (!options.sfldPath.empty() || !options.sfldVersion.empty())
        throw std::invalid_argument("an S-record image carries no SFLD section");
    const std::vector<uint8_t> image = MakeSampleImage(options);
    return SRecordText(image, kFlashBase, kFlashBase, kImageHeader);
}

std::string MakeSampleSfld(uint32_t seed, std::string_view version)
{
    ValidateSfldVersion(version);
    std::vector<uint8_t> program(kSfldSize);
    uint32_t x = seed * 2246822519u + 1;
    for (auto& b : program) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    PutWord(program, 0, kSectionFirstWord);
    std::string marked(kSfldVersionMarker);
    marked += version;
    marked += '\0';
    std::copy(marked.begin(), marked.end(), program.begin() + kSfldVersionOffset);
    return SRecordText(program, kRamBase, kRamBase, kSfldHeader);
}

} // namespace receiver
