// A 32 MiB store image "user" in a device folder of its own, partitioned and read
// back with sfdisk, mkfs and blkid, so the storage layer is never judged by itself.
#pragma once

#include "tests/support/device_folder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::test {

inline constexpr uint64_t kStoreBytes = 32ull << 20;
inline constexpr uint64_t kStoreSectors = kStoreBytes / 512;
inline constexpr uint64_t kFirstSector = 2048;   // where sfdisk and the storage layer start a partition
// What one partition over the whole store looks like in Partitions().
inline constexpr const char* kWholeStoreType4 = "start=2048,size=63488,type=4";

class StoreImage {
public:
    StoreImage();

    const std::string& Path() const { return m_path; }
    // Runs one line of an sfdisk script on the store: "type=6" makes one
    // partition of that type over the whole store, "label: gpt" an empty table.
    void Sfdisk(const std::string& line) const;
    // A filesystem made by `mkfs` (a command that takes the file last) over `sectors` from `start`.
    void Filesystem(const std::string& mkfs, uint64_t start = 0, uint64_t sectors = kStoreSectors);
    // The filesystem type blkid finds at `start`, or "".
    std::string FilesystemAt(uint64_t start) const;
    // The partition lines of `sfdisk --dump` without blanks, as "start=...,size=...,type=...".
    std::vector<std::string> Partitions() const;
    std::vector<char> Bytes() const;
    // Lines in <folder>/reboot-requests.
    int RebootRequests() const;

private:
    velmor::test::DeviceFolder m_folder;
    std::string m_path;
};

} // namespace quillon::test
