// The store the formatter works on: its name, the name of its partition, and
// how much of it a new partition takes.
#pragma once

#include "platform/storage/storage.h"

#include <string>
#include <string_view>

namespace quillon {

// Only the first word names the store; the rest is what the user sees it as.
inline constexpr const wchar_t* kStoreText = L"USER MyDevice";

inline constexpr uint8_t kConvertedType = 0x04;   // the layout the wizard leaves
inline constexpr uint8_t kOldType = 0x06;         // the layout that needs the wizard
inline constexpr uint8_t kStoreDefaultType = 0;   // the store picks the partition type

// The first blank-separated word of `text`.
std::wstring StoreName(std::wstring_view text = kStoreText);

// The name of the partition the search found. A store with no partition at all
// leaves the record unfilled; its one partition will then be the first.
std::u16string FoundPartitionName(platform::StorageHandle search, const platform::PartInfo& info);

// The largest creatable partition, at most 2^32 - 1 sectors.
uint64_t CreatableSectors(const platform::StoreInfo& info);

} // namespace quillon
