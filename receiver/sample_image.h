// Sample firmware images made here, so tests and the demo never need one from
// elsewhere: PFLD and FW sections, optionally an SFLD section, all checksummed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace receiver {

// A checksum to get wrong on purpose, to see the image refused.
enum class ChecksumFault {
    None,
    Pfld,
    Fw,
    Sfld,
};

inline constexpr std::string_view kSampleSfldVersion = "S1.00";

struct SampleImageOptions {
    std::string pfldVersion = "1.07";   // <major>.<minor>, up to 3 digits each
    std::string fwVersion = "V2.15";    // printable, no blank, ',' or '*'
    uint32_t pfldSize = 0x2000;         // end address minus start; multiple of 4
    uint32_t fwSize = 0x20000;
    uint32_t seed = 1;                  // for the filler bytes
    bool fwErased = false;              // FW filler bytes 0xFF, as unused flash reads
    std::string sfldPath;               // S-record file to append as the SFLD section
    std::string sfldVersion;            // without sfldPath: append a sample SFLD with this version text
    ChecksumFault badChecksum = ChecksumFault::None;
};

// The binary image: a flat copy of flash from its base up to the FW checksum
// word, then the SFLD section if asked for. Throws std::invalid_argument for
// options out of range (an SFLD file and a version text together, too) and
// std::runtime_error when the SFLD cannot be read.
std::vector<uint8_t> MakeSampleImage(const SampleImageOptions& options);

// The same flash contents as S-record text (no SFLD section), entry at the base.
std::string MakeSampleSRecords(const SampleImageOptions& options);

// A small SFLD program file: S-record text of filler bytes at the board's RAM,
// with the version marker and `version` (1 to kMaxSfldVersionLength printable
// characters) among them. Throws std::invalid_argument for another version text.
std::string MakeSampleSfld(uint32_t seed = 1, std::string_view version = kSampleSfldVersion);

} // namespace receiver
