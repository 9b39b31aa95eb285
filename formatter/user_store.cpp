// Store and partition names, partition size.
#include "formatter/user_store.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace quillon {
namespace {

// The sector count goes to the store as a 32-bit value; an MBR entry holds no more either.
constexpr uint64_t kMaxPartitionSectors = UINT32_MAX;

} // namespace

std::wstring StoreName(std::wstring_view text)
{
    return std::wstring(text.substr(0, text.find(L' ')));
}

std::u16string FoundPartitionName(platform::StorageHandle search, const platform::PartInfo& info)
{
    const auto end = std::find(std::begin(info.name), std::end(info.name), u'\0');
    if (search == platform::kInvalidStorageHandle || end == std::begin(info.name))
        return platform::PartitionName(0);
    return std::u16string(std::begin(info.name), end);
}

uint64_t CreatableSectors(const platform::StoreInfo& info)
{
    return std::min<uint64_t>(info.largestCreatableSectors, kMaxPartitionSectors);
}

} // namespace quillon
