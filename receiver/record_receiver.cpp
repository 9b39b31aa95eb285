// The record exchange from the board's side.
#include "receiver/record_receiver.h"

#include "loader/upload/byte_codes.h"

#include <algorithm>

namespace receiver {

RecordReceiver::RecordReceiver(Transfer transfer, const BoardOptions& options, FaultSwitches& faults,
                               TranscriptStep& log, Store store)
    : m_transfer(transfer), m_repeatInterval(std::max(options.recWaitInterval, kMinRepeatInterval)),
      m_heldInterval(std::max(options.recWaitInterval, kMinHeldInterval)),
      m_frameTimeout(options.frameTimeout), m_faults(faults), m_log(log), m_store(std::move(store))
{
}

void RecordReceiver::Begin(bool waiting, bool rangeFirst, Clock::time_point now, std::string& out)
{
    m_rangeFirst = rangeFirst;
    m_taken = 0;
    m_haveTaken = false;
    m_lastTaken = {};
    m_holding = false;
    m_ackAfter = 0;
    m_state = State::Idle;
    if (waiting) {
        out += char(velmor::REC_WAIT_CODE);
        Wait(now);
    }
}

void RecordReceiver::Stop()
{
    m_state = State::Off;
    m_holding = false;
    m_ackAfter = 0;
}

RecordReceiver::Took RecordReceiver::Take(uint8_t byte, Clock::time_point now, std::string& out)
{
    switch (m_state) {
    case State::Off:
        return Took::NotMine;
    case State::Skipping:
        m_quietUntil = now + kSkipQuiet;
        return Took::FrameByte;
    case State::Receiving:
        if (!m_decoder.Feed(byte))
            return Took::FrameByte;
        if (m_decoder.Frame().error == velmor::BAD_LENGTH) {
            // The word count cannot be trusted to find the frame's end.
            out += char(velmor::BAD_LENGTH);
            Log(m_decoder.Frame(), m_taken, velmor::BAD_LENGTH, false);
            m_state = State::Skipping;
            m_quietUntil = now + kSkipQuiet;
            return Took::FrameByte;
        }
        return Conclude(now, out) ? Took::Acknowledged : Took::FrameByte;
    case State::Idle:
    case State::Waiting:
        break;
    }

    if (byte == FrameDecoder::kStartMark) {
        // A held-back acknowledgement is given up: the loader sends the record again.
        m_holding = false;
        m_ackAfter = 0;
        m_decoder.Start();
        m_state = State::Receiving;
        m_frameDeadline = now + m_frameTimeout;
        return Took::FrameByte;
    }
    if (byte == velmor::SYNC_CODE) {
        out += char(velmor::REC_WAIT_CODE);
        Wait(now);
        return Took::Code;
    }
    return Took::NotMine;
}

bool RecordReceiver::Tick(Clock::time_point now, bool arriving, std::string& out)
{
    switch (m_state) {
    case State::Receiving:
        if (now < m_frameDeadline)
            return false;
        m_decoder.Cut();
        return Conclude(now, out);
    case State::Skipping:
        if (now >= m_quietUntil)
            Wait(now);
        return false;
    case State::Waiting:
        break;
    case State::Off:
    case State::Idle:
        return false;
    }

    if (now < m_nextRepeat)
        return false;
    m_nextRepeat = now + (m_holding ? m_heldInterval : m_repeatInterval);
    // A repeat must never fall into a frame the board has not taken in yet.
    if (arriving)
        return false;
    out += char(velmor::REC_WAIT_CODE);
    if (m_ackAfter == 0 || --m_ackAfter > 0)
        return false;
    out += char(velmor::SYNC_CODE);
    m_holding = false;
    m_state = State::Idle;
    return true;
}

RecordReceiver::Clock::time_point RecordReceiver::NextDue() const
{
    switch (m_state) {
    case State::Waiting:
        return m_nextRepeat;
    case State::Receiving:
        return m_frameDeadline;
    case State::Skipping:
        return m_quietUntil;
    case State::Off:
    case State::Idle:
        break;
    }
    return Clock::time_point::max();
}

bool RecordReceiver::Conclude(Clock::time_point now, std::string& out)
{
    const DecodedFrame& frame = m_decoder.Frame();
    const auto reject = [&](const std::string& answer) {
        out += answer;
        Log(frame, m_taken, uint8_t(answer.front()), false);
        Wait(now);
        return false;
    };
    m_lastKind = KindOf(frame, m_taken);
    if (frame.error != 0)
        return reject(std::string(1, char(frame.error)));

    if (IsRepeat(frame)) {
        // The loader missed the acknowledgement and sent the record again.
        m_lastKind = KindOf(frame, m_taken - 1);
        out += char(velmor::SYNC_CODE);
        Log(frame, m_taken - 1, velmor::SYNC_CODE, true);
        m_state = State::Idle;
        return true;
    }

    OneShotFault fired;
    if (m_faults.Fire(OneShotKind::RejectRecord, m_transfer, m_taken, fired))
        return reject(std::string(1, char(fired.code)));
    if (const std::string rejection = m_store(m_lastKind, frame); !rejection.empty())
        return reject(rejection);

    const unsigned index = m_taken++;
    m_haveTaken = true;
    m_lastTaken = frame;
    if (m_faults.Fire(OneShotKind::LoseAck, m_transfer, index, fired)) {
        Log(frame, index, 0, false);
        Wait(now);
        m_holding = true;
        m_nextRepeat = now + m_heldInterval;
        return false;
    }
    if (m_faults.Fire(OneShotKind::FloodRecWait, m_transfer, index, fired)) {
        // The first goes out at once, the others at the held interval.
        Log(frame, index, 0, false);
        Wait(now);
        m_holding = true;
        m_nextRepeat = now;
        m_ackAfter = fired.count;
        return false;
    }
    out += char(velmor::SYNC_CODE);
    Log(frame, index, velmor::SYNC_CODE, false);
    m_state = State::Idle;
    return true;
}

RecordKind RecordReceiver::KindOf(const DecodedFrame& frame, unsigned index) const
{
    if (m_rangeFirst && index == 0)
        return RecordKind::Range;
    return frame.words == 0 ? RecordKind::End : RecordKind::Data;
}

bool RecordReceiver::IsRepeat(const DecodedFrame& frame) const
{
    return m_haveTaken && frame.words == m_lastTaken.words && frame.address == m_lastTaken.address
        && frame.data == m_lastTaken.data;
}

void RecordReceiver::Wait(Clock::time_point now)
{
    m_state = State::Waiting;
    m_nextRepeat = now + m_repeatInterval;
}

void RecordReceiver::Log(const DecodedFrame& frame, unsigned index, uint8_t answer, bool repeated)
{
    m_log.records.push_back({m_transfer, index, KindOf(frame, index), frame.address, frame.data.size(), answer,
                             repeated});
}

} // namespace receiver
