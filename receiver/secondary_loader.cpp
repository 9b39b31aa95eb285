// The SFLD's commands, erase and programming.
#include "receiver/secondary_loader.h"

#include "loader/upload/byte_codes.h"
#include "receiver/flash_layout.h"
#include "receiver/sfld_layout.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace receiver {
namespace {

constexpr std::string_view kVersionPrefix = "$VER,";
constexpr std::string_view kLineEnd = "\r\n";
constexpr size_t kRangeEndBytes = 4;

uint32_t BigEndian(const std::vector<uint8_t>& bytes)
{
    uint32_t value = 0;
    for (size_t i = 0; i < kRangeEndBytes; ++i)
        value = value << 8 | bytes[i];
    return value;
}

} // namespace

SecondaryLoader::SecondaryLoader(const BoardOptions& options, FaultSwitches& faults, TranscriptStep& log,
                                 BoardFlash& flash)
    : m_typeId(options.sfldTypeId), m_sectorTime(options.sectorEraseTime), m_faults(faults), m_log(log),
      m_flash(flash),
      m_records(Transfer::Flash, options, faults, log,
                [this](RecordKind kind, const DecodedFrame& frame) { return Store(kind, frame); })
{
}

void SecondaryLoader::Start(std::span<const uint8_t> ram)
{
    m_version = VersionIn(ram);
    m_state = State::Commands;
    m_rate = kWakeRate;
    m_attention = false;
    m_bootMode = false;
    m_erased = false;
    m_records.Stop();
}

void SecondaryLoader::Stop()
{
    m_state = State::Stopped;
    m_records.Stop();
}

std::string SecondaryLoader::VersionIn(std::span<const uint8_t> data)
{
    const auto marker = std::search(data.begin(), data.end(), kSfldVersionMarker.begin(), kSfldVersionMarker.end());
    std::string version;
    for (auto at = marker == data.end() ? marker : marker + long(kSfldVersionMarker.size());
         at != data.end() && *at >= ' ' && *at <= '~' && version.size() < kMaxSfldVersionLength; ++at)
        version += char(*at);
    return version.empty() ? std::string(kUnmarkedSfldVersion) : version;
}

bool SecondaryLoader::Understands(unsigned baud) const
{
    return m_state != State::Stopped && (baud == kWakeRate || (baud == kWorkRate && Rate() == kWorkRate));
}

bool SecondaryLoader::Take(uint8_t byte, unsigned baud, Clock::time_point now, std::string& out)
{
    if (!Understands(baud))
        return false;
    if (baud == kWakeRate) {
        LogCode(byte, baud);
        if (byte != velmor::SYNC_CODE || !Answers())
            return false;
        // The host is back at the wake-up rate: whatever was under way is over.
        if (m_state == State::Erasing)
            EndErase(false);
        m_records.Stop();
        m_state = State::Commands;
        m_attention = false;
        out += char(velmor::SYNC_CODE);
        m_rate = kWorkRate;
        return false;
    }

    switch (m_state) {
    case State::Stopped:
        return false;
    case State::Commands:
        LogCode(byte, baud);
        Command(byte, now, out);
        return false;
    case State::Erasing:
        LogCode(byte, baud);
        return false;
    case State::AwaitRange:
    case State::Programming:
        break;
    }
    switch (m_records.Take(byte, now, out)) {
    case RecordReceiver::Took::NotMine:
    case RecordReceiver::Took::Code:
        LogCode(byte, baud);
        return false;
    case RecordReceiver::Took::FrameByte:
        return false;
    case RecordReceiver::Took::Acknowledged:
        break;
    }
    return Acknowledged(now);
}

bool SecondaryLoader::Tick(Clock::time_point now, bool arriving, std::string& out)
{
    switch (m_state) {
    case State::Erasing:
        Erase(now, out);
        return false;
    case State::AwaitRange:
    case State::Programming:
        return m_records.Tick(now, arriving, out) && Acknowledged(now);
    case State::Stopped:
    case State::Commands:
        break;
    }
    return false;
}

SecondaryLoader::Clock::time_point SecondaryLoader::NextDue() const
{
    switch (m_state) {
    case State::Erasing:
        return m_sectorDue;
    case State::AwaitRange:
    case State::Programming:
        return m_records.NextDue();
    case State::Stopped:
    case State::Commands:
        break;
    }
    return Clock::time_point::max();
}

void SecondaryLoader::Command(uint8_t byte, Clock::time_point now, std::string& out)
{
    const bool attention = std::exchange(m_attention, byte == velmor::SYNC_CODE);
    switch (byte) {
    case velmor::VERSION_CMD:
        if (Answers())
            out += std::string(kVersionPrefix) + m_version + std::string(kLineEnd);
        break;
    case velmor::TYPE_ID_CMD:
        if (Answers())
            out += std::string{char(velmor::TYPE_ID_CMD), char(m_typeId)};
        break;
    case velmor::BOOT_MODE_CMD:
        if (Answers()) {
            m_bootMode = true;
            out += char(velmor::BOOT_MODE_CMD);
        }
        break;
    case velmor::ERASE_CMD:
        if (attention && Answers()) {
            out += char(velmor::SYNC_CODE);
            m_state = State::AwaitRange;
            m_records.Begin(false, true, now, out);
        }
        break;
    default:
        break;
    }
}

std::string SecondaryLoader::Store(RecordKind kind, const DecodedFrame& frame)
{
    const std::string badCommand(1, char(velmor::BAD_COMMAND));
    switch (kind) {
    case RecordKind::Range: {
        if (frame.data.size() != kRangeEndBytes)
            return std::string(1, char(velmor::BAD_LENGTH));
        const uint32_t end = BigEndian(frame.data);
        if (frame.address >= end || !BoardFlash::Holds(frame.address, end - frame.address))
            return badCommand;
        m_erase = {frame.address, end, m_bootMode, 0, false};
        return {};
    }
    case RecordKind::End:
        return m_state == State::Programming ? std::string() : badCommand;
    case RecordKind::Data:
        break;
    }
    if (m_state != State::Programming || !BoardFlash::Holds(frame.address, frame.data.size()))
        return badCommand;
    // Flash bits only go from 1 to 0 when programmed; anything else needs an erase first.
    if (!m_flash.IsErased(frame.address, frame.data.size()))
        return std::string{char(velmor::ERASE_FAILED_CODE), char(velmor::BAD_COMMAND)};
    if (m_faults.IsOn(BoardFault::BadCell)) {
        std::vector<uint8_t> stored = frame.data;
        stored[0] = uint8_t(~stored[0]);   // a cell that would not hold its value: only a read-back sees it
        m_flash.Program(frame.address, stored);
        return {};
    }
    m_flash.Program(frame.address, frame.data);
    return {};
}

bool SecondaryLoader::Acknowledged(Clock::time_point now)
{
    if (m_state == State::AwaitRange && m_records.LastKind() == RecordKind::Range) {
        m_state = State::Erasing;
        m_erased = true;
        m_nextSector = kFlashBase + (m_erase.start - kFlashBase) / kSectorSize * kSectorSize;
        m_sectorDue = now + m_sectorTime;
        return false;
    }
    if (m_state != State::Programming || m_records.LastKind() != RecordKind::End)
        return false;
    m_flash.SealFirmware();
    Stop();
    return true;
}

void SecondaryLoader::Erase(Clock::time_point now, std::string& out)
{
    while (m_state == State::Erasing && now >= m_sectorDue) {
        const bool last = m_nextSector + kSectorSize >= m_erase.end;
        OneShotFault fired;
        if (last && m_faults.Fire(OneShotKind::EraseFailure, fired)) {
            out += char(velmor::ERASE_FAILED_CODE);
            EndErase(false);
            m_records.Stop();
            m_state = State::Commands;
            return;
        }
        m_flash.Erase(m_nextSector, kSectorSize);
        ++m_erase.sectors;
        out += char(velmor::SECTOR_ERASED_CODE);
        if (m_erase.sectors == 1 && m_faults.Fire(OneShotKind::EraseNoise, fired)) {
            // The host gives up on such a byte, so the erase ends with it.
            out += char(fired.code);
            EndErase(false);
            m_records.Stop();
            m_state = State::Commands;
            return;
        }
        if (last) {
            out += char(velmor::SYNC_CODE);
            EndErase(true);
            m_state = State::Programming;
            return;
        }
        m_nextSector += kSectorSize;
        m_sectorDue += m_sectorTime;
    }
}

void SecondaryLoader::EndErase(bool completed)
{
    m_erase.completed = completed;
    m_log.erases.push_back(m_erase);
}

} // namespace receiver
