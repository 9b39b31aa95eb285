// The failing stand-in's forwarding.
#include "tests/formatter/failing_storage.h"

namespace quillon::test {

using platform::kInvalidStorageHandle;
using platform::StorageHandle;

void FailingStorage::Fail(Op op, int call, Failure how)
{
    m_rules.push_back({op, call, how});
}

std::vector<Op> FailingStorage::Ops() const
{
    std::vector<Op> ops;
    for (const StorageCall& call : m_calls)
        ops.push_back(call.op);
    return ops;
}

const FailingStorage::Rule* FailingStorage::Begin(Op op, const std::u16string& name, uint8_t type, uint64_t sectors)
{
    m_calls.push_back({op, name, type, sectors, std::chrono::steady_clock::now()});
    if (m_observer)
        m_observer(op);
    const int number = ++m_counts[op];
    for (const Rule& rule : m_rules)
        if (rule.op == op && (rule.call == kEveryCall || rule.call == number))
            return &rule;
    return nullptr;
}

StorageHandle FailingStorage::Opened(StorageHandle handle)
{
    if (handle != kInvalidStorageHandle)
        m_open.insert(handle);
    return handle;
}

bool FailingStorage::Flag(const Rule* failure, const std::function<bool()>& real)
{
    if (failure && failure->how == Failure::Refuse)
        return false;
    const bool result = real();
    return failure ? false : result;
}

bool FailingStorage::Closed(StorageHandle handle, bool closed)
{
    if (m_open.erase(handle) == 0)
        ++m_badCloses;
    return closed;
}

StorageHandle FailingStorage::OpenStore(const std::wstring& storeName)
{
    return Begin(Op::OpenStore) ? kInvalidStorageHandle : Opened(m_real.OpenStore(storeName));
}

StorageHandle FailingStorage::FindFirstPartition(StorageHandle store, platform::PartInfo& info)
{
    return Begin(Op::FindFirstPartition) ? kInvalidStorageHandle : Opened(m_real.FindFirstPartition(store, info));
}

bool FailingStorage::FindClosePartition(StorageHandle search)
{
    return Closed(search, Flag(Begin(Op::FindClosePartition), [&] { return m_real.FindClosePartition(search); }));
}

StorageHandle FailingStorage::OpenPartition(StorageHandle store, const std::u16string& name)
{
    return Begin(Op::OpenPartition, name) ? kInvalidStorageHandle : Opened(m_real.OpenPartition(store, name));
}

bool FailingStorage::GetPartitionInfo(StorageHandle partition, platform::PartInfo& info)
{
    const Rule* failure = Begin(Op::GetPartitionInfo);
    const bool ok = Flag(failure, [&] { return m_real.GetPartitionInfo(partition, info); });
    if (ok && m_mounted)
        info.attributes |= platform::kPartitionMounted;
    return ok;
}

bool FailingStorage::GetStoreInfo(StorageHandle store, platform::StoreInfo& info)
{
    return Flag(Begin(Op::GetStoreInfo), [&] { return m_real.GetStoreInfo(store, info); });
}

bool FailingStorage::DismountStore(StorageHandle store)
{
    return Flag(Begin(Op::DismountStore), [&] { return m_real.DismountStore(store); });
}

bool FailingStorage::FormatStore(StorageHandle store)
{
    return Flag(Begin(Op::FormatStore), [&] { return m_real.FormatStore(store); });
}

bool FailingStorage::CreatePartition(StorageHandle store, const std::u16string& name, uint8_t type, uint64_t sectors)
{
    return Flag(Begin(Op::CreatePartition, name, type, sectors),
                [&] { return m_real.CreatePartition(store, name, type, sectors); });
}

bool FailingStorage::CloseHandle(StorageHandle handle)
{
    Begin(Op::CloseHandle);
    return Closed(handle, m_real.CloseHandle(handle));
}

void FailingStorage::KernelIoControl(uint32_t code)
{
    Begin(Op::KernelIoControl);
    m_real.KernelIoControl(code);
}

} // namespace quillon::test
