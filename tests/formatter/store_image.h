// A 32 MiB store image "user" in a device folder of its own, partitioned and read
// back with sfdisk, so the storage layer is never judged by itself.
#pragma once

#include "tests/support/device_folder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::test {

inline constexpr uint64_t kStoreBytes = 32ull << 20;
// What one partition over the whole store looks like in `sfdisk --dump`.
inline constexpr const char* kWholeStoreType4 = "start=2048, size=63488, type=4";

class StoreImage {
public:
    StoreImage();

    const std::string& Path() const { return m_path; }
    // One partition of `type` over the whole store.
    void Partition(uint8_t type);
    // An MBR with no partition in it.
    void EmptyTable();
    // The partition lines of `sfdisk --dump`, as "start=..., size=..., type=...".
    std::vector<std::string> Partitions() const;
    std::vector<char> Bytes() const;
    // Lines in <folder>/reboot-requests.
    int RebootRequests() const;

private:
    void Sfdisk(const std::string& arguments, const std::string& script) const;

    velmor::test::DeviceFolder m_folder;
    std::string m_path;
};

} // namespace quillon::test
