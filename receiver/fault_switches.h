// Faults a test can switch on and off while the board runs.
#pragma once

#include <atomic>
#include <cstddef>

namespace receiver {

enum class BoardFault {
    Silence,     // answers nothing, streams nothing
    WrongEcho,   // memory replies echo another address
    NoRid,       // the identification query goes unanswered
    Junk,        // junk bytes and a cut sentence follow every reply
};

class FaultSwitches {
public:
    void Set(BoardFault fault, bool on) { m_on[Index(fault)].store(on); }
    bool IsOn(BoardFault fault) const { return m_on[Index(fault)].load(); }

private:
    static constexpr size_t kFaultCount = 4;

    static size_t Index(BoardFault fault) { return static_cast<size_t>(fault); }

    std::atomic<bool> m_on[kFaultCount] = {};
};

} // namespace receiver
