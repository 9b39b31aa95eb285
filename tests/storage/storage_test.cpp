// The storage layer on real store images: what it reports, what a format leaves
// behind, what it refuses to write over; and that no test can reboot the machine.
#include "platform/paths.h"
#include "platform/storage/storage.h"
#include "tests/formatter/store_image.h"
#include "tests/storage/reboot_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace platform {
namespace {

using quillon::test::kFirstSector;
using quillon::test::kStoreSectors;
using quillon::test::kWholeStoreType4;
using quillon::test::StoreImage;

class StorageTest : public ::testing::Test {
protected:
    // Opens "USER", runs `body` on the handle, closes.
    template <typename Body>
    void WithStore(Storage& storage, Body body)
    {
        const StorageHandle store = storage.OpenStore(L"USER");
        ASSERT_NE(store, kInvalidStorageHandle);
        body(store);
        EXPECT_TRUE(storage.CloseHandle(store));
    }

    StoreImage m_image;
    Storage& m_storage = SystemStorage();
};

TEST_F(StorageTest, ReportsWhatIsThereAndRefusesBadRequests)
{
    EXPECT_EQ(m_storage.OpenStore(L"OTHER"), kInvalidStorageHandle);
    WithStore(m_storage, [&](StorageHandle store) {
        PartInfo info;
        EXPECT_EQ(m_storage.FindFirstPartition(store, info), kInvalidStorageHandle);   // no table yet
        EXPECT_EQ(m_storage.OpenPartition(store, u"Part00"), kInvalidStorageHandle);
        StoreInfo storeInfo;
        ASSERT_TRUE(m_storage.GetStoreInfo(store, storeInfo));
        EXPECT_EQ(storeInfo.totalSectors, kStoreSectors);
        EXPECT_EQ(storeInfo.largestCreatableSectors, kStoreSectors - kFirstSector);
        EXPECT_FALSE(m_storage.CreatePartition(store, u"Disk0", 0, 1000));
        ASSERT_TRUE(m_storage.CreatePartition(store, u"Part00", 0x06, 20480));
        EXPECT_FALSE(m_storage.CreatePartition(store, u"Part00", 0, 1000));   // already there

        const StorageHandle search = m_storage.FindFirstPartition(store, info);
        ASSERT_NE(search, kInvalidStorageHandle);
        EXPECT_EQ(std::u16string(info.name), u"Part00");
        EXPECT_EQ(info.type, 0x06);
        EXPECT_EQ(info.sectors, 20480u);
        EXPECT_EQ(info.attributes & kPartitionMounted, 0u);
        EXPECT_TRUE(m_storage.FindClosePartition(search));
        const StorageHandle part = m_storage.OpenPartition(store, u"Part00");
        ASSERT_NE(part, kInvalidStorageHandle);
        EXPECT_TRUE(m_storage.GetPartitionInfo(part, info));
        EXPECT_TRUE(m_storage.CloseHandle(part));
        EXPECT_EQ(m_storage.OpenPartition(store, u"Part01"), kInvalidStorageHandle);

        info.size = 100;
        EXPECT_EQ(m_storage.FindFirstPartition(store, info), kInvalidStorageHandle);
        storeInfo.size = 0;
        EXPECT_FALSE(m_storage.GetStoreInfo(store, storeInfo));
        EXPECT_FALSE(m_storage.CloseHandle(12345));
    });
}

// The new partition starts where the old one did: its old filesystem must not come back.
TEST_F(StorageTest, FormatLeavesNoFilesystemBehind)
{
    const struct {
        const char* mkfs;
        const char* type;
    } rows[] = {
        {"mkfs.vfat", "vfat"},
        {"mkfs.ext2 -q -F", "ext2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mkfs);
        StoreImage image;
        image.Partition(0x06);
        image.Filesystem(row.mkfs, kFirstSector, kStoreSectors - kFirstSector);
        ASSERT_EQ(image.FilesystemAt(kFirstSector), row.type);
        WithStore(m_storage, [&](StorageHandle store) { EXPECT_TRUE(m_storage.FormatStore(store)); });
        WithStore(m_storage, [&](StorageHandle store) {
            EXPECT_TRUE(m_storage.CreatePartition(store, u"Part00", 0, kStoreSectors - kFirstSector));
        });
        EXPECT_EQ(image.Partitions(), std::vector<std::string> {kWholeStoreType4});
        EXPECT_EQ(image.FilesystemAt(kFirstSector), "");
    }
}

TEST(PartitionNames, RoundTrip)
{
    EXPECT_EQ(PartitionName(0), u"Part00");
    EXPECT_EQ(PartitionName(3), u"Part03");
    EXPECT_EQ(PartitionIndex(u"Part00"), 0);
    EXPECT_EQ(PartitionIndex(u"Part12"), 12);
    for (const char16_t* bad : {u"", u"Part", u"Part0x", u"part00", u"Disk00"})
        EXPECT_EQ(PartitionIndex(bad), -1);
}

int Lines(const std::string& path)
{
    std::ifstream in(path);
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
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
        velmor::test::DeviceFolder outer;
        { velmor::test::DeviceFolder inner; }
        EXPECT_EQ(DeviceDirectory(), outer.Path());   // the nested fixture gave the folder back
        SystemStorage().KernelIoControl(0x12345678);   // not the reboot code
        SystemStorage().KernelIoControl(kRebootRequest);
        EXPECT_EQ(Lines(outer.File("reboot-requests")), 1);
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
