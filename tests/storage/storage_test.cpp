// Stores and partitions on real disk image files through libfdisk.
#include "platform/storage/storage.h"
#include "tests/support/device_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

constexpr uint64_t kImageBytes = 32ull << 20;
constexpr uint64_t kSectors = kImageBytes / 512;

class StoreImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        FILE* f = std::fopen(m_path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(ftruncate(fileno(f), off_t(kImageBytes)), 0);
        std::fclose(f);
    }

    // Opens "USER", runs `body` on the handle, closes.
    template <typename Body>
    void WithStore(Body body)
    {
        const StorageHandle store = m_storage.OpenStore(L"USER");
        ASSERT_NE(store, kInvalidStorageHandle);
        body(store);
        EXPECT_TRUE(m_storage.CloseHandle(store));
    }

    std::string Dump()
    {
        std::string text;
        FILE* p = popen(("sfdisk --dump " + m_path + " 2>&1").c_str(), "r");
        char buf[512];
        while (p && std::fgets(buf, sizeof buf, p))
            text += buf;
        if (p)
            pclose(p);
        return text;
    }

    velmor::test::DeviceFolder m_folder;
    std::string m_path = m_folder.Path() + "/user";
    Storage& m_storage = SystemStorage();
};

TEST_F(StoreImage, OpenOnlyWhatIsThere)
{
    EXPECT_EQ(m_storage.OpenStore(L"OTHER"), kInvalidStorageHandle);
    WithStore([&](StorageHandle store) {
        PartInfo info;
        EXPECT_EQ(m_storage.FindFirstPartition(store, info), kInvalidStorageHandle);   // no table yet
        EXPECT_EQ(m_storage.OpenPartition(store, u"Part00"), kInvalidStorageHandle);
        StoreInfo storeInfo;
        ASSERT_TRUE(m_storage.GetStoreInfo(store, storeInfo));
        EXPECT_EQ(storeInfo.totalSectors, kSectors);
        EXPECT_EQ(storeInfo.largestCreatableSectors, kSectors - 2048);
    });
}

TEST_F(StoreImage, ConvertAType6StoreToOneType4Partition)
{
    WithStore([&](StorageHandle store) {
        ASSERT_TRUE(m_storage.CreatePartition(store, u"Part00", 0x06, 20480));
    });
    EXPECT_NE(Dump().find("type=6"), std::string::npos) << Dump();

    WithStore([&](StorageHandle store) {
        PartInfo info;
        const StorageHandle search = m_storage.FindFirstPartition(store, info);
        ASSERT_NE(search, kInvalidStorageHandle);
        EXPECT_EQ(std::u16string(info.name), u"Part00");
        EXPECT_EQ(info.type, 0x06);
        EXPECT_EQ(info.attributes & kPartitionMounted, 0u);
        EXPECT_EQ(info.sectors, 20480u);
        EXPECT_TRUE(m_storage.FindClosePartition(search));

        const StorageHandle part = m_storage.OpenPartition(store, u"Part00");
        ASSERT_NE(part, kInvalidStorageHandle);
        PartInfo again;
        ASSERT_TRUE(m_storage.GetPartitionInfo(part, again));
        EXPECT_EQ(again.type, 0x06);
        EXPECT_TRUE(m_storage.CloseHandle(part));
        EXPECT_EQ(m_storage.OpenPartition(store, u"Part01"), kInvalidStorageHandle);

        EXPECT_TRUE(m_storage.DismountStore(store));   // nothing mounted: nothing to do
        ASSERT_TRUE(m_storage.FormatStore(store));
        EXPECT_EQ(m_storage.FindFirstPartition(store, info), kInvalidStorageHandle);
    });
    EXPECT_EQ(Dump().find("type="), std::string::npos) << Dump();

    WithStore([&](StorageHandle store) {
        StoreInfo storeInfo;
        ASSERT_TRUE(m_storage.GetStoreInfo(store, storeInfo));
        ASSERT_TRUE(m_storage.CreatePartition(store, u"Part00", 0, storeInfo.largestCreatableSectors));
        ASSERT_TRUE(m_storage.GetStoreInfo(store, storeInfo));
        EXPECT_EQ(storeInfo.largestCreatableSectors, 0u);
    });
    const std::string dump = Dump();
    EXPECT_NE(dump.find("start=        2048, size=       63488, type=4"), std::string::npos) << dump;
}

TEST_F(StoreImage, RecordsCarryTheirSize)
{
    WithStore([&](StorageHandle store) {
        ASSERT_TRUE(m_storage.CreatePartition(store, u"Part00", 0, 1000));
        PartInfo info;
        info.size = 100;
        EXPECT_EQ(m_storage.FindFirstPartition(store, info), kInvalidStorageHandle);
        StoreInfo storeInfo;
        storeInfo.size = 0;
        EXPECT_FALSE(m_storage.GetStoreInfo(store, storeInfo));
        EXPECT_FALSE(m_storage.CreatePartition(store, u"Disk0", 0, 1000));
        EXPECT_FALSE(m_storage.CreatePartition(store, u"Part00", 0, 1000));   // already there
        EXPECT_FALSE(m_storage.CloseHandle(12345));
    });
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

TEST(Reboot, OnlyRecordedOutsideTheRealDeviceFolder)
{
    velmor::test::DeviceFolder folder;
    SystemStorage().KernelIoControl(0x12345678);   // not the reboot code
    SystemStorage().KernelIoControl(kRebootRequest);
    RequestReboot();
    std::ifstream in(folder.Path() + "/reboot-requests");
    std::stringstream text;
    text << in.rdbuf();
    int lines = 0;
    for (char c : text.str())
        lines += c == '\n';
    EXPECT_EQ(lines, 2);
}

} // namespace
} // namespace platform
