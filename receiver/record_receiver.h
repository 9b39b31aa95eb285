// The board's side of the record exchange in one transfer: REC_WAIT_CODE for
// SYNC_CODE and, repeated, while it waits; frames against a time limit; the
// answer to each, with the record faults. It numbers the records and knows a
// resent one, so a lost acknowledgement never stores a record twice.
#pragma once

#include "receiver/board_options.h"
#include "receiver/board_transcript.h"
#include "receiver/fault_switches.h"
#include "receiver/frame_decoder.h"
#include "receiver/record_kinds.h"

#include <chrono>
#include <functional>
#include <string>

namespace receiver {

class RecordReceiver {
public:
    using Clock = std::chrono::steady_clock;
    // Takes a record that passed the frame checks: "" when it was taken, else
    // the bytes that reject it.
    using Store = std::function<std::string(RecordKind, const DecodedFrame&)>;

    enum class Took {
        NotMine,        // not a byte of the exchange: the owner's to interpret
        Code,           // SYNC_CODE, answered
        FrameByte,      // part of a frame, or of one being skipped
        Acknowledged,   // it ended a frame whose record was acknowledged just now
    };

    RecordReceiver(Transfer transfer, const BoardOptions& options, FaultSwitches& faults, TranscriptStep& log,
                   Store store);

    // A new transfer: numbering from 0, nothing taken yet. With `waiting`,
    // REC_WAIT_CODE goes out now and is repeated; otherwise the receiver keeps
    // quiet until SYNC_CODE. With `rangeFirst`, record 0 is the erase range.
    void Begin(bool waiting, bool rangeFirst, Clock::time_point now, std::string& out);
    // No transfer: every byte is NotMine, nothing is repeated.
    void Stop();

    Took Take(uint8_t byte, Clock::time_point now, std::string& out);
    // Repeats (put off while bytes are `arriving`), the frame time limit, the
    // end of a skipped frame, a held-back acknowledgement. True when a record
    // was acknowledged.
    bool Tick(Clock::time_point now, bool arriving, std::string& out);
    Clock::time_point NextDue() const;

    // A frame is coming in or being skipped: every byte is the receiver's.
    bool InFrame() const { return m_state == State::Receiving || m_state == State::Skipping; }
    // The last frame that ended, and what kind of record it was.
    const DecodedFrame& LastFrame() const { return m_decoder.Frame(); }
    RecordKind LastKind() const { return m_lastKind; }

private:
    enum class State {
        Off,
        Idle,        // quiet, until SYNC_CODE or a start mark
        Waiting,     // repeating REC_WAIT_CODE until a start mark
        Receiving,
        Skipping,    // the rest of a frame with a bad word count, until the line is quiet
    };

    // After a bad word count, the frame's other bytes are let pass until the
    // line has been quiet this long; a loader pauses longer before its next SYNC_CODE.
    static constexpr std::chrono::milliseconds kSkipQuiet{5};
    // Repeats closer than this would only flood the line.
    static constexpr std::chrono::milliseconds kMinRepeatInterval{1};
    // REC_WAIT_CODEs held before an acknowledgement come no closer than this:
    // a loader that gives up on them pauses 10 ms and sends the record again,
    // and one more REC_WAIT_CODE meanwhile would make it give up once more.
    static constexpr std::chrono::milliseconds kMinHeldInterval{20};

    bool Conclude(Clock::time_point now, std::string& out);
    RecordKind KindOf(const DecodedFrame& frame, unsigned index) const;
    bool IsRepeat(const DecodedFrame& frame) const;
    void Wait(Clock::time_point now);
    void Log(const DecodedFrame& frame, unsigned index, uint8_t answer, bool repeated);

    const Transfer m_transfer;
    const std::chrono::milliseconds m_repeatInterval;
    const std::chrono::milliseconds m_heldInterval;
    const std::chrono::milliseconds m_frameTimeout;
    FaultSwitches& m_faults;
    TranscriptStep& m_log;
    const Store m_store;

    State m_state = State::Off;
    FrameDecoder m_decoder;
    bool m_rangeFirst = false;
    RecordKind m_lastKind = RecordKind::Data;
    unsigned m_taken = 0;               // records taken in this transfer
    bool m_haveTaken = false;
    DecodedFrame m_lastTaken;
    bool m_holding = false;             // a record was taken and its acknowledgement held back
    unsigned m_ackAfter = 0;            // REC_WAIT_CODEs still to go before the held acknowledgement, 0: none comes
    Clock::time_point m_nextRepeat;
    Clock::time_point m_frameDeadline;
    Clock::time_point m_quietUntil;
};

} // namespace receiver
