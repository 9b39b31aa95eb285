// The resident loader's polls and the SFLD upload into RAM.
#include "receiver/resident_loader.h"

#include "loader/upload/byte_codes.h"
#include "receiver/sfld_layout.h"

#include <algorithm>
#include <string_view>

namespace receiver {
namespace {

constexpr std::string_view kVersionPrefix = "$VER,";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kUnknownVersion = "PFLD";   // a flash without a PFLD header

} // namespace

ResidentLoader::ResidentLoader(const BoardOptions& options, FaultSwitches& faults, TranscriptStep& log,
                               const BoardFlash& flash)
    : m_faults(faults), m_log(log), m_flash(flash),
      m_records(Transfer::Sfld, options, faults, log,
                [this](RecordKind kind, const DecodedFrame& frame) { return Store(kind, frame); }),
      m_ram(kRamSize, 0)
{
}

void ResidentLoader::Reset()
{
    m_records.Stop();
    m_transfer = false;
    std::fill(m_ram.begin(), m_ram.end(), 0);
}

bool ResidentLoader::Take(uint8_t byte, Clock::time_point now, std::string& out)
{
    if (m_transfer) {
        switch (m_records.Take(byte, now, out)) {
        case RecordReceiver::Took::NotMine:
            break;
        case RecordReceiver::Took::Code:
            m_log.codes.push_back({BoardMode::Pfl, kRate, byte});
            return false;
        case RecordReceiver::Took::FrameByte:
            return false;
        case RecordReceiver::Took::Acknowledged:
            return m_records.LastKind() == RecordKind::End;
        }
    }
    m_log.codes.push_back({BoardMode::Pfl, kRate, byte});
    Poll(byte, now, out);
    return false;
}

bool ResidentLoader::Tick(Clock::time_point now, bool arriving, std::string& out)
{
    return m_records.Tick(now, arriving, out) && m_records.LastKind() == RecordKind::End;
}

void ResidentLoader::Poll(uint8_t byte, Clock::time_point now, std::string& out)
{
    const bool answered = byte == velmor::PFLD_VERSION_POLL || byte == velmor::PFLD_ASK_POLL
        || (byte == velmor::SYNC_CODE && !m_transfer);
    if (!answered || m_faults.FireSilentPoll())
        return;
    if (byte == velmor::SYNC_CODE) {
        const std::string version = m_flash.PfldVersionText();
        out += std::string(kVersionPrefix) + (version.empty() ? std::string(kUnknownVersion) : version)
            + std::string(kLineEnd);
    } else if (byte == velmor::PFLD_VERSION_POLL) {
        out += char(velmor::PFLD_VERSION_POLL);
    } else {
        // Ready for the SFLD, from its first record: a failed upload starts over here.
        std::fill(m_ram.begin(), m_ram.end(), 0);
        m_transfer = true;
        m_records.Begin(true, false, now, out);
    }
}

std::string ResidentLoader::Store(RecordKind kind, const DecodedFrame& frame)
{
    if (kind == RecordKind::End)
        return {};
    const size_t size = frame.data.size();
    if (frame.address < kRamBase || size > kRamSize || frame.address - kRamBase > kRamSize - size)
        return std::string(1, char(velmor::BAD_COMMAND));
    std::copy(frame.data.begin(), frame.data.end(), m_ram.begin() + (frame.address - kRamBase));
    return {};
}

} // namespace receiver
