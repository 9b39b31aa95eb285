// The board's resident loader (PFLD) at its fixed rate: answers the host's
// poll bytes and takes an SFLD into RAM as records; the end record starts it.
#pragma once

#include "receiver/board_flash.h"
#include "receiver/board_options.h"
#include "receiver/board_transcript.h"
#include "receiver/fault_switches.h"
#include "receiver/record_receiver.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace receiver {

class ResidentLoader {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr unsigned kRate = 19200;

    // `flash` is read for the version text; the caller holds it steady.
    ResidentLoader(const BoardOptions& options, FaultSwitches& faults, TranscriptStep& log, const BoardFlash& flash);

    // As the board starts it: no transfer, RAM cleared.
    void Reset();
    // A frame is coming in: every byte is the loader's, none a sentence's.
    bool InFrame() const { return m_records.InFrame(); }

    // Both true when the SFLD transfer has just ended: the SFLD is to run from Ram().
    bool Take(uint8_t byte, Clock::time_point now, std::string& out);
    bool Tick(Clock::time_point now, bool arriving, std::string& out);
    Clock::time_point NextDue() const { return m_records.NextDue(); }

    const std::vector<uint8_t>& Ram() const { return m_ram; }

private:
    std::string Store(RecordKind kind, const DecodedFrame& frame);
    void Poll(uint8_t byte, Clock::time_point now, std::string& out);

    FaultSwitches& m_faults;
    TranscriptStep& m_log;
    const BoardFlash& m_flash;
    RecordReceiver m_records;
    bool m_transfer = false;   // the SFLD is being taken
    std::vector<uint8_t> m_ram;
};

} // namespace receiver
