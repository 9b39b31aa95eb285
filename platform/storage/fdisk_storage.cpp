// Storage operations on MBR partition tables through libfdisk. A handle names a
// store (an fdisk context on its device or image), a partition, or a search.
#include "platform/storage/storage.h"

#include "platform/paths.h"
#include "platform/serial_port.h"
#include "platform/storage/store_mounts.h"
#include "platform/storage/store_signatures.h"
#include "platform/text.h"

#include <libfdisk.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <variant>
#include <vector>

namespace platform {
namespace {

constexpr size_t kMaxPrimaryPartitions = 4;
constexpr uint64_t kMbrLastSector = UINT32_MAX;   // an MBR entry holds 32-bit sector numbers

struct StoreObject {
    std::string path;
    fdisk_context* context = nullptr;
};
struct PartitionObject {
    StorageHandle store;
    size_t index;
};
struct SearchObject {
    StorageHandle store;
};

class FdiskStorage final : public Storage {
public:
    explicit FdiskStorage(MountSources sources) : m_sources(std::move(sources)) {}

    ~FdiskStorage() override
    {
        for (auto& [handle, object] : m_handles)
            if (auto* store = std::get_if<StoreObject>(&object))
                fdisk_unref_context(store->context);
    }

    StorageHandle OpenStore(const std::wstring& storeName) override
    {
        const std::string path = DevicePath(Narrow(storeName));
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
            return kInvalidStorageHandle;
        fdisk_context* context = fdisk_new_context();
        if (!context)
            return kInvalidStorageHandle;
        fdisk_disable_dialogs(context, 1);
        if (fdisk_assign_device(context, path.c_str(), 0) != 0) {
            fdisk_unref_context(context);
            return kInvalidStorageHandle;
        }
        return Add(StoreObject {path, context});
    }

    StorageHandle FindFirstPartition(StorageHandle store, PartInfo& info) override
    {
        StoreObject* object = Store(store);
        if (!object || info.size != sizeof(PartInfo))
            return kInvalidStorageHandle;
        const auto used = UsedPartitions(*object);
        if (used.empty() || !Fill(*object, used.front(), info))
            return kInvalidStorageHandle;
        return Add(SearchObject {store});
    }

    bool FindClosePartition(StorageHandle search) override
    {
        std::lock_guard lock(m_mutex);
        auto it = m_handles.find(search);
        if (it == m_handles.end() || !std::holds_alternative<SearchObject>(it->second))
            return false;
        m_handles.erase(it);
        return true;
    }

    StorageHandle OpenPartition(StorageHandle store, const std::u16string& name) override
    {
        StoreObject* object = Store(store);
        const int index = PartitionIndex(name);
        if (!object || index < 0)
            return kInvalidStorageHandle;
        for (size_t used : UsedPartitions(*object))
            if (used == size_t(index))
                return Add(PartitionObject {store, used});
        return kInvalidStorageHandle;
    }

    bool GetPartitionInfo(StorageHandle partition, PartInfo& info) override
    {
        if (info.size != sizeof(PartInfo))
            return false;
        PartitionObject part {};
        {
            std::lock_guard lock(m_mutex);
            auto it = m_handles.find(partition);
            if (it == m_handles.end() || !std::holds_alternative<PartitionObject>(it->second))
                return false;
            part = std::get<PartitionObject>(it->second);
        }
        StoreObject* object = Store(part.store);
        return object && Fill(*object, part.index, info);
    }

    bool GetStoreInfo(StorageHandle store, StoreInfo& info) override
    {
        StoreObject* object = Store(store);
        if (!object || info.size != sizeof(StoreInfo))
            return false;
        fdisk_context* cxt = object->context;
        info.bytesPerSector = uint32_t(fdisk_get_sector_size(cxt));
        info.totalSectors = fdisk_get_nsectors(cxt);
        info.largestCreatableSectors = LargestFree(*object);
        info.freeSectors = info.largestCreatableSectors;
        return true;
    }

    bool DismountStore(StorageHandle store) override
    {
        StoreObject* object = Store(store);
        if (!object)
            return false;
        const auto mounts = Mounts(*object);
        // Nested mounts come later in the table and must go first.
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
            if (umount2(it->mountPoint.c_str(), 0) != 0)
                return false;
        return Mounts(*object).empty();
    }

    bool FormatStore(StorageHandle store) override
    {
        StoreObject* object = Store(store);
        if (!object || !Writable(*object))
            return false;
        // An empty table alone would bring the old files back with the next partition at the same start.
        const uint64_t sectorSize = fdisk_get_sector_size(object->context);
        for (const auto& [start, sectors] : UsedRanges(*object))
            if (!WipeSignatures(object->path, start * sectorSize, sectors * sectorSize))
                return false;
        return fdisk_create_disklabel(object->context, "dos") == 0 && fdisk_write_disklabel(object->context) == 0;
    }

    bool CreatePartition(StorageHandle store, const std::u16string& name, uint8_t type, uint64_t sectors) override
    {
        StoreObject* object = Store(store);
        const int index = PartitionIndex(name);
        if (!object || index < 0 || size_t(index) >= kMaxPrimaryPartitions || sectors == 0 || !Writable(*object))
            return false;
        fdisk_context* cxt = object->context;
        if (!fdisk_has_label(cxt) && fdisk_create_disklabel(cxt, "dos") != 0)
            return false;
        const uint8_t wanted = type ? type : kDefaultPartitionType;
        fdisk_label* label = fdisk_get_label(cxt, nullptr);
        fdisk_parttype* partType = fdisk_label_get_parttype_from_code(label, wanted);
        fdisk_partition* pa = fdisk_new_partition();
        // Explicit: libfdisk would otherwise round the end to its alignment.
        bool ok = pa && partType && fdisk_partition_set_partno(pa, size_t(index)) == 0
            && fdisk_partition_start_follow_default(pa, 1) == 0 && fdisk_partition_set_size(pa, sectors) == 0
            && fdisk_partition_size_explicit(pa, 1) == 0 && fdisk_partition_set_type(pa, partType) == 0
            && fdisk_add_partition(cxt, pa, nullptr) == 0;
        fdisk_unref_partition(pa);
        // libfdisk reads the entry back from the very sector it writes: one past sector 2^32 - 1
        // reads as start 0 and size 0, and is never written.
        if (!ok || !Holds(cxt, size_t(index), wanted, sectors)) {
            Reload(*object);
            return false;
        }
        return fdisk_write_disklabel(cxt) == 0;
    }

    bool CloseHandle(StorageHandle handle) override
    {
        std::lock_guard lock(m_mutex);
        auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return false;
        if (auto* store = std::get_if<StoreObject>(&it->second)) {
            fdisk_deassign_device(store->context, 0);
            fdisk_unref_context(store->context);
        }
        m_handles.erase(it);
        return true;
    }

    void KernelIoControl(uint32_t code) override
    {
        if (code == kRebootRequest)
            RequestReboot();
    }

private:
    using Object = std::variant<StoreObject, PartitionObject, SearchObject>;

    StorageHandle Add(Object object)
    {
        std::lock_guard lock(m_mutex);
        const StorageHandle handle = m_next++;
        m_handles.emplace(handle, std::move(object));
        return handle;
    }

    StoreObject* Store(StorageHandle handle)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_handles.find(handle);
        return it == m_handles.end() ? nullptr : std::get_if<StoreObject>(&it->second);
    }

    std::vector<StoreMount> Mounts(const StoreObject& store) const
    {
        return MountsOnStore(IdentifyStore(store.path), m_sources);
    }

    // Only a blank store or an MBR with nothing mounted takes a table: anything else may be someone's data.
    bool Writable(StoreObject& store) const
    {
        if (fdisk_has_label(store.context) ? !fdisk_is_label(store.context, DOS) : !FirstSectorBlank(store))
            return false;
        return Mounts(store).empty() && ForeignContent(store.path).empty();
    }

    // Random data, or a filesystem libblkid does not name, has no table either, but is not blank.
    static bool FirstSectorBlank(const StoreObject& store)
    {
        std::vector<char> sector(fdisk_get_sector_size(store.context));
        std::ifstream in(store.path, std::ios::binary);
        return in.read(sector.data(), std::streamsize(sector.size()))
            && std::all_of(sector.begin(), sector.end(), [](char byte) { return byte == 0; });
    }

    // Whether the table in memory, the sector libfdisk writes, holds partition `index` with this type and size.
    static bool Holds(fdisk_context* cxt, size_t index, uint8_t type, uint64_t sectors)
    {
        fdisk_partition* pa = nullptr;
        if (fdisk_get_partition(cxt, index, &pa) != 0 || !pa)
            return false;
        fdisk_parttype* partType = fdisk_partition_get_type(pa);
        const bool holds = fdisk_partition_is_used(pa) && fdisk_partition_get_size(pa) == sectors && partType
            && fdisk_parttype_get_code(partType) == type;
        fdisk_unref_partition(pa);
        return holds;
    }

    // Drops what the context holds unwritten by reading the store again.
    static void Reload(StoreObject& store)
    {
        fdisk_deassign_device(store.context, 1);
        fdisk_assign_device(store.context, store.path.c_str(), 0);
    }

    // Start and length in sectors of each partition in use.
    static std::vector<std::pair<uint64_t, uint64_t>> UsedRanges(StoreObject& store)
    {
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        for (size_t index : UsedPartitions(store)) {
            fdisk_partition* pa = nullptr;
            if (fdisk_get_partition(store.context, index, &pa) == 0 && pa && fdisk_partition_has_start(pa)
                && fdisk_partition_has_size(pa))
                ranges.emplace_back(fdisk_partition_get_start(pa), fdisk_partition_get_size(pa));
            fdisk_unref_partition(pa);
        }
        return ranges;
    }

    static std::vector<size_t> UsedPartitions(StoreObject& store)
    {
        std::vector<size_t> used;
        fdisk_table* table = nullptr;
        if (!fdisk_has_label(store.context) || fdisk_get_partitions(store.context, &table) != 0)
            return used;
        for (size_t i = 0; i < fdisk_table_get_nents(table); ++i) {
            fdisk_partition* pa = fdisk_table_get_partition(table, i);
            if (pa && fdisk_partition_is_used(pa))
                used.push_back(fdisk_partition_get_partno(pa));
        }
        fdisk_unref_table(table);
        std::sort(used.begin(), used.end());
        return used;
    }

    bool Fill(StoreObject& store, size_t index, PartInfo& info) const
    {
        fdisk_partition* pa = nullptr;
        if (fdisk_get_partition(store.context, index, &pa) != 0 || !pa)
            return false;
        const std::u16string name = PartitionName(index);
        std::fill(std::begin(info.name), std::end(info.name), u'\0');
        std::copy(name.begin(), name.end(), info.name);
        info.startSector = fdisk_partition_get_start(pa);
        info.sectors = fdisk_partition_get_size(pa);
        fdisk_parttype* type = fdisk_partition_get_type(pa);
        info.type = type ? uint8_t(fdisk_parttype_get_code(type)) : 0;
        const uint64_t sectorSize = fdisk_get_sector_size(store.context);
        const uint64_t begin = info.startSector * sectorSize;
        const uint64_t end = begin + info.sectors * sectorSize;
        const auto mounts = Mounts(store);
        const bool mounted = std::any_of(mounts.begin(), mounts.end(), [&](const StoreMount& mount) {
            return mount.begin < end && begin < mount.end;
        });
        info.attributes = mounted ? kPartitionMounted : 0;
        fdisk_unref_partition(pa);
        return true;
    }

    // The sectors of a free run from `start` that an MBR entry can describe.
    static uint64_t Describable(uint64_t start, uint64_t sectors)
    {
        return start > kMbrLastSector ? 0 : std::min(sectors, kMbrLastSector - start + 1);
    }

    static uint64_t LargestFree(StoreObject& store)
    {
        fdisk_context* cxt = store.context;
        if (!fdisk_has_label(cxt)) {
            // A fresh table starts its first partition at the first usable sector.
            const uint64_t first = fdisk_get_first_lba(cxt);
            const uint64_t total = fdisk_get_nsectors(cxt);
            return total > first ? Describable(first, total - first) : 0;
        }
        if (UsedPartitions(store).size() >= kMaxPrimaryPartitions)
            return 0;
        fdisk_table* table = nullptr;
        if (fdisk_get_freespaces(cxt, &table) != 0)
            return 0;
        uint64_t largest = 0;
        for (size_t i = 0; i < fdisk_table_get_nents(table); ++i)
            if (fdisk_partition* pa = fdisk_table_get_partition(table, i))
                largest = std::max(largest, Describable(fdisk_partition_get_start(pa), fdisk_partition_get_size(pa)));
        fdisk_unref_table(table);
        return largest;
    }

    const MountSources m_sources;
    std::mutex m_mutex;
    std::map<StorageHandle, Object> m_handles;
    StorageHandle m_next = 1;
};

} // namespace

Storage& SystemStorage()
{
    static FdiskStorage storage {MountSources {}};
    return storage;
}

std::unique_ptr<Storage> MakeStorage(const MountSources& sources)
{
    return std::make_unique<FdiskStorage>(sources);
}

std::u16string PartitionName(size_t index)
{
    char text[16];
    std::snprintf(text, sizeof text, "Part%02zu", index);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

int PartitionIndex(const std::u16string& name)
{
    if (name.size() < 6 || name.size() > 8 || name.compare(0, 4, u"Part") != 0)
        return -1;
    int index = 0;
    for (size_t i = 4; i < name.size(); ++i) {
        if (name[i] < u'0' || name[i] > u'9')
            return -1;
        index = index * 10 + (name[i] - u'0');
    }
    return index;
}

} // namespace platform
