// The SFLD the host uploaded, running from the board's RAM: it wakes at 19200,
// then answers its commands at 115200, erases the flash range it is given and
// programs the firmware records; the end record completes the upload.
#pragma once

#include "receiver/board_flash.h"
#include "receiver/board_options.h"
#include "receiver/board_transcript.h"
#include "receiver/fault_switches.h"
#include "receiver/record_receiver.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace receiver {

class SecondaryLoader {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr unsigned kWakeRate = 19200;
    static constexpr unsigned kWorkRate = 115200;

    // `flash` is erased and programmed; the caller holds it steady.
    SecondaryLoader(const BoardOptions& options, FaultSwitches& faults, TranscriptStep& log, BoardFlash& flash);

    // Runs the SFLD whose data are `ram`: at the wake-up rate, taking commands.
    void Start(std::span<const uint8_t> ram);
    void Stop();

    // The version text the SFLD's data carry, or kUnmarkedSfldVersion.
    static std::string VersionIn(std::span<const uint8_t> data);
    const std::string& Version() const { return m_version; }

    // The rate it answers at when nobody asks: the wake-up rate until a host
    // woke it there, the working rate from then on. Safe from any thread.
    unsigned Rate() const { return m_rate.load(); }
    // The host's speed is known: the SFLD listens at the wake-up rate always,
    // at the working rate once woken.
    bool Understands(unsigned baud) const;

    // A byte at `baud`, answered at the same rate. True when it completed a
    // flash upload: the board restarts.
    bool Take(uint8_t byte, unsigned baud, Clock::time_point now, std::string& out);
    // Erase progress and the record exchange's timed work, answered at Rate().
    bool Tick(Clock::time_point now, bool arriving, std::string& out);
    Clock::time_point NextDue() const;
    // Whether it has begun an erase since it started.
    bool Erased() const { return m_erased; }

private:
    enum class State {
        Stopped,
        Commands,
        AwaitRange,    // after SYNC_CODE, ERASE_CMD: the range record
        Erasing,
        Programming,   // data records and the end record
    };

    void Command(uint8_t byte, Clock::time_point now, std::string& out);
    bool Answers() { return !m_faults.FireSilentPoll(); }
    std::string Store(RecordKind kind, const DecodedFrame& frame);
    bool Acknowledged(Clock::time_point now);
    void Erase(Clock::time_point now, std::string& out);
    void EndErase(bool completed);
    void LogCode(uint8_t byte, unsigned baud) { m_log.codes.push_back({BoardMode::Sfld, baud, byte}); }

    const uint8_t m_typeId;
    const std::chrono::milliseconds m_sectorTime;
    FaultSwitches& m_faults;
    TranscriptStep& m_log;
    BoardFlash& m_flash;
    RecordReceiver m_records;

    State m_state = State::Stopped;
    std::atomic<unsigned> m_rate = kWakeRate;
    std::string m_version;
    bool m_attention = false;   // the last command byte was SYNC_CODE, which ERASE_CMD must follow
    bool m_bootMode = false;
    bool m_erased = false;
    EraseEntry m_erase;         // the range taken, and the erase's progress
    uint32_t m_nextSector = 0;
    Clock::time_point m_sectorDue;
};

} // namespace receiver
