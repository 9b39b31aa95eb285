// What libblkid finds on a store. A new partition table may go only on a store
// that holds nothing or an MBR; formatting erases what the old partitions held.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Empty when the store at `path` is blank or holds an MBR; otherwise what it
// holds ("vfat", "gpt", ...) or why it could not be told.
std::string ForeignContent(const std::string& path);

// Erases every filesystem and partition-table signature libblkid finds in the
// byte range; false when one could not be read or erased.
bool WipeSignatures(const std::string& path, uint64_t offset, uint64_t length);

} // namespace platform
