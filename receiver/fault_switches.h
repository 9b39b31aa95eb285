// Faults a test can switch on and off while the board runs, and one-shot
// faults that each fire once, so that the loader's retries get through.
#pragma once

#include "receiver/record_kinds.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace receiver {

enum class BoardFault {
    Silence,     // answers nothing, streams nothing
    WrongEcho,   // memory replies echo another address
    NoRid,       // the identification query goes unanswered
    Junk,        // junk bytes and a cut sentence follow every reply
    BadCell,     // programming leaves the first byte of every data record inverted
    FallBack,    // once it has erased, an SFLD the host leaves is gone: the resident loader runs again
};

enum class OneShotKind {
    RejectRecord,   // the record is answered with `code` instead of being taken
    FloodRecWait,   // the record is taken, then `count` REC_WAIT_CODEs go out before its acknowledgement
    LoseAck,        // the record is taken, but no acknowledgement goes out
    SilentPolls,    // the next `count` polls the loaders would answer go unanswered
    EraseFailure,   // the erase fails at its last sector with ERASE_FAILED_CODE
    EraseNoise,     // byte `code` goes out after the erase's first sector code, and the erase ends
};

// Record faults name the record by its transfer and its number there, from 0;
// record 0 of the flash transfer is its range record. A resent record keeps
// its number.
struct OneShotFault {
    static constexpr unsigned kDefaultFlood = 250;   // well past the 200 a loader tolerates
    static constexpr uint8_t kDefaultNoise = 0x86;   // no code of either loader

    OneShotKind kind = OneShotKind::RejectRecord;
    Transfer transfer = Transfer::Flash;
    unsigned record = 0;
    uint8_t code = 0;
    unsigned count = 0;

    static OneShotFault RejectRecord(Transfer transfer, unsigned record, uint8_t code);
    static OneShotFault FloodRecWait(Transfer transfer, unsigned record, unsigned count = kDefaultFlood);
    static OneShotFault LoseAck(Transfer transfer, unsigned record);
    static OneShotFault SilentPolls(unsigned count);
    static OneShotFault EraseFailure();
    static OneShotFault EraseNoise(uint8_t byte = kDefaultNoise);
};

class FaultSwitches {
public:
    void Set(BoardFault fault, bool on) { m_on[Index(fault)].store(on); }
    bool IsOn(BoardFault fault) const { return m_on[Index(fault)].load(); }

    // Several may be armed at once, of one kind too. A count of 0 arms nothing.
    void Arm(const OneShotFault& fault);
    void DisarmAll();
    // One-shot faults not yet fired; silent polls count as one until all are used.
    size_t Armed() const;

    // Fires the armed fault of `kind` for this record; false when there is none.
    bool Fire(OneShotKind kind, Transfer transfer, unsigned record, OneShotFault& fired);
    // Fires an armed fault of `kind` that names no record.
    bool Fire(OneShotKind kind, OneShotFault& fired);
    // Uses up one silent poll; false when none is armed.
    bool FireSilentPoll();

private:
    static constexpr size_t kFaultCount = 6;

    static size_t Index(BoardFault fault) { return static_cast<size_t>(fault); }
    template <typename Match>
    bool FireFirst(Match match, OneShotFault& fired);

    std::atomic<bool> m_on[kFaultCount] = {};
    mutable std::mutex m_mutex;
    std::vector<OneShotFault> m_armed;
};

} // namespace receiver
