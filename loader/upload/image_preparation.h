// Everything checked before a byte goes to the receiver: which secondary
// loader to send, the image's layout and checksums, and whether the receiver's
// primary loader is to be rewritten too. It works on bytes read once, never on
// the files again.
#pragma once

#include "loader/image/flash_layout.h"
#include "loader/image/image_snapshot.h"
#include "loader/log/log.h"
#include "loader/upload/upload_job.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmor {

inline constexpr const char* kSfldFileName = "sfld.hex";
inline constexpr uint32_t kMinImageBytes = 1024;
inline constexpr uint32_t kMaxImageBytes = 0x10100000;
inline constexpr uint64_t kMaxSfldFileBytes = 16 * 1024 * 1024;
inline constexpr size_t kMaxPathBytes = 4095;   // a longer path is refused, never cut
inline constexpr uint8_t kArmLoadTopByte = 0xE5;   // each section opens with an ARM word load

// An image file as it was read, once, for every port it goes to: its bytes,
// or why they could not be read.
struct ImageFile {
    std::string path;                                // as given: bytes, never converted or cut
    std::shared_ptr<const ImageSnapshot> snapshot;   // null when unreadable
    std::string why;
};
ImageFile ReadImage(const std::string& path);

// The receiver-independent checks: the SFLD chosen and scanned, the image
// opened, analysed and its sections checked. `pfldChecksum` is the image's.
Outcome CheckImage(const ImageFile& file, UploadJob& job, Reporter& report, uint32_t& pfldChecksum);
// CheckImage, then the PFLD answer for the job's receiver. Ok when the upload may start.
Outcome PrepareImage(const ImageFile& file, UploadJob& job, Reporter& report);

// The image's SFLD section (without its checksum word) when its checksum
// matches; empty when there is none, with `why` saying why a section that is
// there was not taken.
std::vector<uint8_t> ExtractEmbeddedSfld(const std::vector<uint8_t>& image, std::wstring& why);

} // namespace velmor
