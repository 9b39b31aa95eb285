// Everything checked before a byte goes to the receiver: which secondary
// loader to send, the image's layout and checksums, and whether the receiver's
// primary loader is to be rewritten too.
#pragma once

#include "loader/image/image_source.h"
#include "loader/image/srecord_reader.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace velmor {

inline constexpr const char* kSfldFileName = "sfld.hex";
inline constexpr uint32_t kImageBase = 0x10000000;
inline constexpr uint32_t kFlashEnd = 0x10104000;   // one past the last flash byte
inline constexpr uint32_t kMinImageBytes = 1024;
inline constexpr uint32_t kMaxImageBytes = 0x10100000;
inline constexpr uint8_t kArmLoadTopByte = 0xE5;   // each section opens with an ARM word load

// The process-wide readers: the firmware image, and the secondary loader file.
ImageSource& TheImageSource();
SRecordReader& TheSfldReader();

// Set when the user agreed to rewrite the receiver's PFLD with this image.
bool PfldUpdate();
void SetPfldUpdate(bool on);

bool PrepareImage(const std::wstring& imagePath);
bool ChooseSecondaryLoader(const std::wstring& imagePath);
// The image's SFLD section with a matching checksum, copied into a private
// unnamed file (the caller closes it); nullptr when there is none. `why` says
// why a section that is there was not taken, and is empty when there is none.
FILE* ExtractEmbeddedSfld(const std::wstring& imagePath, std::wstring& why);
// The PFLD section checksum when every check of the binary image passed, else 0.
uint32_t CheckBinaryImage(FILE* file);
// The program's folder, 8-bit, ending in a separator.
std::string GetProgramDirectory();

} // namespace velmor
