// Which mounted filesystems lie on a store, through whatever the kernel stacked
// over it: partitions, loop devices at any offset, device-mapper devices.
#pragma once

#include "platform/storage/storage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A store as the kernel's device tables name it.
struct StoreIdentity {
    std::string device;   // "major:minor" of a block-device store
    std::string image;    // canonical path of an image-file store
};
StoreIdentity IdentifyStore(const std::string& path);

inline constexpr uint64_t kStoreEnd = UINT64_MAX;

// A mounted filesystem and the bytes of the store its device covers.
struct StoreMount {
    std::string mountPoint;
    uint64_t begin = 0;
    uint64_t end = kStoreEnd;
};

// In mount-table order, so unmounting from the back takes nested mounts first.
std::vector<StoreMount> MountsOnStore(const StoreIdentity& store, const MountSources& sources);

} // namespace platform
