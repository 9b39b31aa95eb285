// Fault switches, and one-shot faults taken off their list as they fire.
#include "receiver/fault_switches.h"

#include <algorithm>

namespace receiver {

OneShotFault OneShotFault::RejectRecord(Transfer transfer, unsigned record, uint8_t code)
{
    return {OneShotKind::RejectRecord, transfer, record, code, 0};
}

OneShotFault OneShotFault::FloodRecWait(Transfer transfer, unsigned record, unsigned count)
{
    return {OneShotKind::FloodRecWait, transfer, record, 0, count};
}

OneShotFault OneShotFault::LoseAck(Transfer transfer, unsigned record)
{
    return {OneShotKind::LoseAck, transfer, record, 0, 0};
}

OneShotFault OneShotFault::SilentPolls(unsigned count)
{
    return {OneShotKind::SilentPolls, Transfer::Flash, 0, 0, count};
}

OneShotFault OneShotFault::EraseFailure()
{
    return {OneShotKind::EraseFailure, Transfer::Flash, 0, 0, 0};
}

OneShotFault OneShotFault::EraseNoise(uint8_t byte)
{
    return {OneShotKind::EraseNoise, Transfer::Flash, 0, byte, 0};
}

void FaultSwitches::Arm(const OneShotFault& fault)
{
    const bool counted = fault.kind == OneShotKind::SilentPolls || fault.kind == OneShotKind::FloodRecWait;
    if (counted && fault.count == 0)
        return;
    std::lock_guard lock(m_mutex);
    m_armed.push_back(fault);
}

void FaultSwitches::DisarmAll()
{
    std::lock_guard lock(m_mutex);
    m_armed.clear();
}

size_t FaultSwitches::Armed() const
{
    std::lock_guard lock(m_mutex);
    return m_armed.size();
}

template <typename Match>
bool FaultSwitches::FireFirst(Match match, OneShotFault& fired)
{
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_armed.begin(), m_armed.end(), match);
    if (found == m_armed.end())
        return false;
    fired = *found;
    m_armed.erase(found);
    return true;
}

bool FaultSwitches::Fire(OneShotKind kind, Transfer transfer, unsigned record, OneShotFault& fired)
{
    const auto forRecord = [&](const OneShotFault& f) {
        return f.kind == kind && f.transfer == transfer && f.record == record;
    };
    return FireFirst(forRecord, fired);
}

bool FaultSwitches::Fire(OneShotKind kind, OneShotFault& fired)
{
    return FireFirst([&](const OneShotFault& f) { return f.kind == kind; }, fired);
}

bool FaultSwitches::FireSilentPoll()
{
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_armed.begin(), m_armed.end(),
                                    [](const OneShotFault& f) { return f.kind == OneShotKind::SilentPolls; });
    if (found == m_armed.end())
        return false;
    if (--found->count == 0)
        m_armed.erase(found);
    return true;
}

} // namespace receiver
