// The storage manager's two records, at the byte offsets callers rely on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr uint32_t kPartitionMounted = 0x10;
inline constexpr size_t kPartitionNameChars = 32;

struct StoreInfo {
    uint32_t size = sizeof(StoreInfo);        // set by the caller
    uint32_t bytesPerSector = 0;
    uint64_t totalSectors = 0;
    uint64_t freeSectors = 0;
    uint8_t reserved[176] = {};
    uint64_t largestCreatableSectors = 0;     // the largest partition that can still be made
    uint8_t reserved2[32] = {};
};
static_assert(sizeof(StoreInfo) == 240);
static_assert(offsetof(StoreInfo, largestCreatableSectors) == 200);

struct PartInfo {
    uint32_t size = sizeof(PartInfo);         // set by the caller
    char16_t name[kPartitionNameChars] = {};  // "Part00", "Part01", ...
    uint32_t reserved0 = 0;
    uint64_t startSector = 0;
    uint64_t sectors = 0;
    uint8_t reserved[200] = {};
    uint32_t attributes = 0;                  // kPartitionMounted
    uint8_t type = 0;                         // MBR partition type byte
    uint8_t pad[3] = {};
};
static_assert(sizeof(PartInfo) == 296);
static_assert(offsetof(PartInfo, name) == 4);
static_assert(offsetof(PartInfo, attributes) == 288);
static_assert(offsetof(PartInfo, type) == 292);

} // namespace platform
