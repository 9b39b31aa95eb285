// The storage operations the store formatter uses, on MBR partition tables:
// a store is a block device or a disk image file in the device folder.
#pragma once

#include "platform/storage/store_records.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using StorageHandle = intptr_t;
inline constexpr StorageHandle kInvalidStorageHandle = -1;
inline constexpr uint8_t kDefaultPartitionType = 0x04;
inline constexpr uint32_t kRebootRequest = 0x0101003C;

class Storage {
public:
    virtual ~Storage() = default;

    virtual StorageHandle OpenStore(const std::wstring& storeName) = 0;
    // The first partition into `info`; kInvalidStorageHandle when the store has none.
    virtual StorageHandle FindFirstPartition(StorageHandle store, PartInfo& info) = 0;
    virtual bool FindClosePartition(StorageHandle search) = 0;
    virtual StorageHandle OpenPartition(StorageHandle store, const std::u16string& name) = 0;
    virtual bool GetPartitionInfo(StorageHandle partition, PartInfo& info) = 0;
    virtual bool GetStoreInfo(StorageHandle store, StoreInfo& info) = 0;
    // Unmounts every filesystem that lies on the store, however it was mounted.
    virtual bool DismountStore(StorageHandle store) = 0;
    // Wipes the signatures inside the old partitions and leaves an empty table.
    // Refused on a mounted store, and on one that holds anything but an MBR or
    // a first sector of zeros.
    virtual bool FormatStore(StorageHandle store) = 0;
    // Type 0 means the store's default type. Refused like FormatStore, and when
    // the table could not hold exactly that partition (an MBR ends at sector
    // 2^32 - 1): nothing is written then.
    virtual bool CreatePartition(StorageHandle store, const std::u16string& name, uint8_t type, uint64_t sectors) = 0;
    virtual bool CloseHandle(StorageHandle handle) = 0;
    // The HAL reboot request; other codes are ignored.
    virtual void KernelIoControl(uint32_t code) = 0;
};

// Where the storage layer learns what is mounted: a sysfs tree and a mountinfo file.
struct MountSources {
    std::string sysfs = "/sys";
    std::string mountInfo = "/proc/self/mountinfo";
};

// Partition tables through libfdisk; reboot as described at RequestReboot.
Storage& SystemStorage();
// The same storage, told what is mounted by `sources` instead of the running kernel.
std::unique_ptr<Storage> MakeStorage(const MountSources& sources);

// Restarts the machine only when stores live in the real device folder (/dev);
// under any other folder the request is written to <folder>/reboot-requests.
void RequestReboot();

// What a request in /dev runs; by default `systemctl reboot`. Test binaries put
// a recorder here, so no test can restart the machine whatever the environment.
// Returns the action replaced; nullptr restores the default.
using RebootAction = void (*)();
RebootAction SetRebootAction(RebootAction action);

// "Part00" from an index, and back (-1 when the name is not of that form).
std::u16string PartitionName(size_t index);
int PartitionIndex(const std::u16string& name);

} // namespace platform
