// Whole files read at once, for the images and loaders that must not change
// between the checks and the upload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Opens `path` as named with `flags` (never as a controlling terminal, never
// waiting for a FIFO's other end) and keeps the descriptor only for a regular
// file, whose size goes to `size` when asked. -1, with the reason in `why`,
// otherwise; with O_NOFOLLOW a symbolic link is refused as such.
int OpenRegularFile(const std::string& path, int flags, std::string& why, uint64_t* size = nullptr);

// Reads the regular file at `path`, as named (bytes, never converted or cut),
// up to `maxBytes`. False, with the reason in `why`, when it cannot be opened,
// is no regular file (a FIFO, a device, a folder), or is larger.
bool ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes, std::string& why);

} // namespace platform
