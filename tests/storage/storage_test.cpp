// The storage layer on real store images: what it reports, what a format leaves
// behind, what it refuses to write over; and that no test can reboot the machine.
#include "platform/paths.h"
#include "platform/storage/storage.h"
#include "platform/storage/store_mounts.h"
#include "tests/formatter/store_image.h"
#include "tests/storage/reboot_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

namespace platform {
namespace {

using quillon::test::kFirstSector;
using quillon::test::kStoreBytes;
using quillon::test::kStoreSectors;
using quillon::test::kWholeStoreType4;
using quillon::test::StoreImage;

// A made-up kernel: block devices in a sysfs tree, a partition inside its disk's
// folder as the kernel nests them, and a mountinfo file.
class FakeKernel {
public:
    struct Device {
        std::string name;
        std::string dev;                                          // "major:minor"
        std::string disk;                                         // a partition's disk
        std::vector<std::pair<std::string, std::string>> files;   // path in the device's folder, contents
    };

    // `mounts`: mountinfo lines from the device number on.
    FakeKernel(const std::vector<Device>& devices, const std::vector<std::string>& mounts)
    {
        namespace fs = std::filesystem;
        const fs::path root = m_root.Path();
        fs::create_directories(root / "class/block");
        for (const Device& device : devices) {
            const fs::path folder = root / "devices" / device.disk / device.name;
            fs::create_directories(folder);
            std::ofstream(folder / "dev") << device.dev << "\n";
            for (const auto& [file, text] : device.files) {
                fs::create_directories((folder / file).parent_path());
                std::ofstream(folder / file) << text << "\n";
            }
            fs::create_directory_symlink(folder, root / "class/block" / device.name);
        }
        std::ofstream info(m_root.File("mountinfo"));
        int id = 20;
        for (const std::string& mount : mounts)
            info << id++ << " 1 " << mount << "\n";
    }

    MountSources Sources() const { return {m_root.Path(), m_root.File("mountinfo")}; }

private:
    velmor::test::TempDir m_root;
};

// Opens "USER", runs `body` on the handle, closes.
template <typename Body>
void WithStore(Storage& storage, Body body)
{
    const StorageHandle store = storage.OpenStore(L"USER");
    ASSERT_NE(store, kInvalidStorageHandle);
    body(store);
    EXPECT_TRUE(storage.CloseHandle(store));
}

// What a store reports it can still take, and what a request leaves in its table:
// exactly the type and size asked, or nothing at all (an MBR ends at sector 2^32 - 1).
// A format first erases the old partition's filesystem, so the new partition at the
// same start does not bring the old files back.
TEST(StorageTest, NewPartitionIsWhatWasAskedOrNothing)
{
    constexpr uint64_t kOverMbr = 3ull << 40;   // sparse
    constexpr uint64_t kMbrLargest = (1ull << 32) - kFirstSector;
    constexpr uint64_t kWhole = kStoreSectors - kFirstSector;
    const struct {
        const char* legend;
        uint64_t bytes;
        std::string sfdisk;
        std::string mkfs;       // a filesystem in the first partition, formatted away before the request
        const char16_t* name;
        uint8_t type;
        uint64_t sectors;
        uint64_t creatable;     // reported before the request
        const char* created;    // the table's one partition after; nullptr: refused, nothing written
    } rows[] = {
        {"type 0b, an odd size", kStoreBytes, "", "", u"Part00", 0x0b, 20481, kWhole, "start=2048,size=20481,type=b"},
        {"FAT formatted away", kStoreBytes, "type=6", "mkfs.vfat", u"Part00", 0, kWhole, kWhole, kWholeStoreType4},
        {"ext2 formatted away", kStoreBytes, "type=6", "mkfs.ext2 -q -F", u"Part00", 0, kWhole, kWhole,
         kWholeStoreType4},
        {"four slots used, room left", kStoreBytes, ",4M\n,4M\n,4M\n,4M", "", u"Part04", 0, 1000, 0, nullptr},
        {"largest an MBR holds", kOverMbr, "", "", u"Part00", 0, kMbrLargest, kMbrLargest,
         "start=2048,size=4294965248,type=4"},
        {"a sector more", kOverMbr, "label: dos", "", u"Part00", 0, kMbrLargest + 1, kMbrLargest, nullptr},
    };
    Storage& storage = SystemStorage();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        const StoreImage image(row.bytes);
        if (!row.sfdisk.empty())
            image.Sfdisk(row.sfdisk);
        if (!row.mkfs.empty())
            image.Filesystem(row.mkfs, kFirstSector, kWhole);
        const std::vector<char> before = image.Bytes();
        WithStore(storage, [&](StorageHandle store) {
            EXPECT_TRUE(row.mkfs.empty() || storage.FormatStore(store));
            StoreInfo info;
            ASSERT_TRUE(storage.GetStoreInfo(store, info));
            EXPECT_EQ(info.largestCreatableSectors, row.creatable);
            EXPECT_EQ(storage.CreatePartition(store, row.name, row.type, row.sectors), row.created != nullptr);
        });
        if (row.created) {
            EXPECT_EQ(image.Partitions(), std::vector<std::string> {row.created});
        } else {
            EXPECT_TRUE(image.Bytes() == before);
        }
        EXPECT_EQ(image.FilesystemAt(kFirstSector), "");
    }
}

// A loop device over the image at the partition's offset: the partition counts as
// mounted, and nothing is written under it.
TEST(StorageTest, MountedStoreIsNeitherFormattedNorRepartitioned)
{
    const StoreImage image;
    image.Sfdisk("type=6");
    const FakeKernel kernel({{"loop0", "7:0", "", {{"loop/backing_file", image.Path()}, {"loop/offset", "1048576"}}}},
                            {"7:0 / " + image.Path() + "-not-a-mount-point" + " rw - vfat /dev/loop0 rw"});
    const std::unique_ptr<Storage> storage = MakeStorage(kernel.Sources());
    const std::vector<char> before = image.Bytes();
    WithStore(*storage, [&](StorageHandle store) {
        PartInfo info;
        const StorageHandle search = storage->FindFirstPartition(store, info);
        EXPECT_EQ(info.attributes & kPartitionMounted, kPartitionMounted);
        EXPECT_TRUE(storage->FindClosePartition(search));
        EXPECT_FALSE(storage->DismountStore(store));   // a made-up mount point cannot be unmounted
        EXPECT_FALSE(storage->FormatStore(store));
        EXPECT_FALSE(storage->CreatePartition(store, u"Part01", 0, 1000));
    });
    EXPECT_TRUE(image.Bytes() == before);
}

// Every way a filesystem can sit on the store, and some that miss it, each with
// the bytes of the store under the mounted device.
TEST(MountsOnStore, FollowEachDeviceDownToTheStore)
{
    const std::string image = "/stores/user";   // only compared, never opened
    const FakeKernel kernel(
        {
            {"loop0", "7:0", "", {{"loop/backing_file", image}, {"loop/offset", "1048576"}}},
            {"loop1", "7:1", "", {{"loop/backing_file", image}, {"loop/offset", "0"}}},
            {"loop1p1", "259:0", "loop1", {{"partition", "1"}, {"start", "2048"}, {"size", "4096"}}},
            {"loop2", "7:2", "", {{"loop/backing_file", image}, {"loop/offset", "4096"}, {"loop/sizelimit", "8192"}}},
            {"dm-0", "253:0", "", {{"slaves/loop2", ""}}},
            {"loop3", "7:3", "", {{"loop/backing_file", "/stores/other"}, {"loop/offset", "0"}}},
            {"sda", "8:0", "", {}},
            {"sda1", "8:1", "sda", {{"partition", "1"}, {"start", "2048"}, {"size", "100"}}},
            {"dm-1", "253:1", "", {{"slaves/sda1", ""}, {"slaves/loop3", ""}}},
        },
        {
            "7:0 / /m/offset rw - vfat /dev/loop0 rw",
            "259:0 / /m/part rw shared:7 - vfat /dev/loop1p1 rw",
            "253:0 / /m/mapped\\040store rw - ext4 /dev/mapper/x rw",
            "7:3 / /m/other rw - vfat /dev/loop3 rw",
            "0:40 / /tmp rw - tmpfs tmpfs rw",
            "8:1 / /m/disk rw - vfat /dev/sda1 rw",
            "253:1 /sub /m/disk-mapped rw - ext4 /dev/mapper/y rw",
        });
    using Mount = std::tuple<std::string, uint64_t, uint64_t>;   // mount point, bytes of the store
    const uint64_t mib = 1048576;
    const struct {
        const char* legend;
        StoreIdentity store;
        std::vector<Mount> mounts;
    } rows[] = {
        {"image", {"", image},
         {{"/m/offset", mib, kStoreEnd}, {"/m/part", mib, 3 * mib}, {"/m/mapped store", 4096, 12288}}},
        {"block device", {"8:0", ""}, {{"/m/disk", mib, mib + 51200}, {"/m/disk-mapped", mib, mib + 51200}}},
        {"another store", {"9:0", "/stores/none"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        std::vector<Mount> mounts;
        for (const StoreMount& mount : MountsOnStore(row.store, kernel.Sources()))
            mounts.emplace_back(mount.mountPoint, mount.begin, mount.end);
        EXPECT_EQ(mounts, row.mounts);
    }
}

// A stand-in `systemctl` first on PATH notices if the real command would have run.
TEST(Reboot, NeverRestartsTheMachineUnderTests)
{
    velmor::test::TempDir bin;
    std::ofstream(bin.File("systemctl")) << "#!/bin/sh\necho \"$@\" >> " << bin.File("ran") << "\n";
    std::filesystem::permissions(bin.File("systemctl"), std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH");
    setenv("PATH", (bin.Path() + ":" + path).c_str(), 1);
    const int before = velmor::test::RecordedReboots();
    {
        const StoreImage outer;
        { const velmor::test::DeviceFolder inner; }
        SystemStorage().KernelIoControl(0x12345678);   // not the reboot code
        SystemStorage().KernelIoControl(kRebootRequest);
        EXPECT_EQ(outer.RebootRequests(), 1);   // the nested fixture gave the outer folder back
        EXPECT_EQ(velmor::test::RecordedReboots(), before);

        setenv(kDeviceDirVariable, "/dev", 1);
        SystemStorage().KernelIoControl(kRebootRequest);
        unsetenv(kDeviceDirVariable);
        RequestReboot();
    }
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(velmor::test::RecordedReboots(), before + 2);
    EXPECT_FALSE(std::filesystem::exists(bin.File("ran")));
}

} // namespace
} // namespace platform
