// Everything checked before a byte goes to the receiver: which secondary
// loader to send, the image's layout and checksums, and whether the receiver's
// primary loader is to be rewritten too.
#pragma once

#include "loader/image/flash_layout.h"
#include "loader/image/image_source.h"
#include "loader/image/srecord_reader.h"
#include "loader/log/log.h"
#include "loader/upload/upload_job.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace velmor {

inline constexpr const char* kSfldFileName = "sfld.hex";
inline constexpr uint32_t kMinImageBytes = 1024;
inline constexpr uint32_t kMaxImageBytes = 0x10100000;
inline constexpr uint8_t kArmLoadTopByte = 0xE5;   // each section opens with an ARM word load

// Fills the job's image, SFLD and PFLD answer; true when the upload may start.
bool PrepareImage(const std::wstring& imagePath, UploadJob& job, Reporter& report);
bool ChooseSecondaryLoader(const std::wstring& imagePath, SRecordReader& sfld, Reporter& report);
// The image's SFLD section with a matching checksum, copied into a private
// unnamed file (the caller closes it); nullptr when there is none. `why` says
// why a section that is there was not taken, and is empty when there is none.
FILE* ExtractEmbeddedSfld(const std::wstring& imagePath, std::wstring& why);
// The little-endian word at a file offset; false where the file ends first.
bool ReadFileWord(FILE* file, int64_t offset, uint32_t& word);
// The PFLD section checksum when every check of the binary image passed, else 0.
uint32_t CheckBinaryImage(FILE* file, Reporter& report);

} // namespace velmor
