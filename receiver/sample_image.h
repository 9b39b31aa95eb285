// Sample firmware images made here, so tests and the demo never need one from
// elsewhere: PFLD and FW sections, optionally an SFLD section, all checksummed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace receiver {

// A checksum to get wrong on purpose, to see the image refused.
enum class ChecksumFault {
    None,
    Pfld,
    Fw,
    Sfld,
};

struct SampleImageOptions {
    std::string pfldVersion = "1.07";   // <major>.<minor>, up to 3 digits each
    std::string fwVersion = "V2.15";    // printable, no blank, ',' or '*'
    uint32_t pfldSize = 0x2000;         // end address minus start; multiple of 4
    uint32_t fwSize = 0x20000;
    uint32_t seed = 1;                  // for the filler bytes
    std::string sfldPath;               // S-record file to append as the SFLD section
    ChecksumFault badChecksum = ChecksumFault::None;
};

// The binary image: a flat copy of flash from its base up to the FW checksum
// word, then the SFLD section if asked for. Throws std::invalid_argument for
// options out of range and std::runtime_error when the SFLD cannot be read.
std::vector<uint8_t> MakeSampleImage(const SampleImageOptions& options);

// The same flash contents as S-record text (no SFLD section), entry at the base.
std::string MakeSampleSRecords(const SampleImageOptions& options);

// A small SFLD program file: S-record text of filler bytes at the board's RAM.
std::string MakeSampleSfld(uint32_t seed = 1);

} // namespace receiver
