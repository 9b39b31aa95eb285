// Test-only stand-in for the system storage: forwards to the real libfdisk storage
// on the store image except where a test makes it fail, and logs calls and open handles.
#pragma once

#include "platform/storage/storage.h"

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace quillon::test {

enum class Op {
    OpenStore,
    FindFirstPartition,
    FindClosePartition,
    OpenPartition,
    GetPartitionInfo,
    GetStoreInfo,
    DismountStore,
    FormatStore,
    CreatePartition,
    CloseHandle,
    KernelIoControl,
};

struct StorageCall {
    Op op;
    std::u16string name;   // OpenPartition, CreatePartition
    uint8_t type = 0;      // CreatePartition
    uint64_t sectors = 0;  // CreatePartition
    std::chrono::steady_clock::time_point at;
};

class FailingStorage final : public platform::Storage {
public:
    static constexpr int kEveryCall = 0;
    enum class Failure {
        Refuse,       // the real operation does not run
        AfterDoing,   // it runs, and failure is reported anyway (operations that return a flag)
    };

    // Makes the `call`-th call of `op` (counting from 1) fail, or every call.
    void Fail(Op op, int call = kEveryCall, Failure how = Failure::Refuse);
    // Partitions report themselves mounted, so that the store gets dismounted.
    void ReportMounted() { m_mounted = true; }
    // Runs at each call, before the operation.
    void OnCall(std::function<void(Op)> observer) { m_observer = std::move(observer); }

    const std::vector<StorageCall>& Calls() const { return m_calls; }
    std::vector<Op> Ops() const;
    size_t OpenHandles() const { return m_open.size(); }
    // Closes of handles that were not open (closed twice, or never opened).
    int BadCloses() const { return m_badCloses; }

    platform::StorageHandle OpenStore(const std::wstring& storeName) override;
    platform::StorageHandle FindFirstPartition(platform::StorageHandle store, platform::PartInfo& info) override;
    bool FindClosePartition(platform::StorageHandle search) override;
    platform::StorageHandle OpenPartition(platform::StorageHandle store, const std::u16string& name) override;
    bool GetPartitionInfo(platform::StorageHandle partition, platform::PartInfo& info) override;
    bool GetStoreInfo(platform::StorageHandle store, platform::StoreInfo& info) override;
    bool DismountStore(platform::StorageHandle store) override;
    bool FormatStore(platform::StorageHandle store) override;
    bool CreatePartition(platform::StorageHandle store, const std::u16string& name, uint8_t type, uint64_t sectors) override;
    bool CloseHandle(platform::StorageHandle handle) override;
    void KernelIoControl(uint32_t code) override;

private:
    struct Rule {
        Op op;
        int call;
        Failure how;
    };

    // Logs the call; the failure planned for it, if any.
    const Rule* Begin(Op op, const std::u16string& name = {}, uint8_t type = 0, uint64_t sectors = 0);
    platform::StorageHandle Opened(platform::StorageHandle handle);
    bool Flag(const Rule* failure, const std::function<bool()>& real);
    bool Closed(platform::StorageHandle handle, bool closed);

    platform::Storage& m_real = platform::SystemStorage();
    std::vector<Rule> m_rules;
    std::map<Op, int> m_counts;
    std::vector<StorageCall> m_calls;
    std::set<platform::StorageHandle> m_open;
    int m_badCloses = 0;
    bool m_mounted = false;
    std::function<void(Op)> m_observer;
};

} // namespace quillon::test
