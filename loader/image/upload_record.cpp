// Record assembly and framing: [ W(2) payload(2W) xor16(2) ], all big-endian.
#include "loader/image/upload_record.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace velmor {

void UploadRecord::Reset()
{
    m_address = 0;
    m_wireLength = 0;
    m_dataCount = 0;
    m_fresh = true;
    m_carry.flag = false;
}

void UploadRecord::StoreCarry(uint32_t address, uint16_t number, const uint16_t* values)
{
    assert(number <= RecordCarry::kCapacity);
    number = std::min<uint16_t>(number, RecordCarry::kCapacity);
    // The values may come from our own carry (a reader hands it back), so move, not copy.
    std::memmove(m_carry.values, values, number * sizeof(uint16_t));
    m_carry.address = address;
    m_carry.number = number;
    m_carry.flag = true;
}

bool UploadRecord::Append(uint32_t address, uint16_t number, const uint16_t* values)
{
    if (m_fresh) {
        m_fresh = false;
        m_address = address;
        m_carry.flag = false;
        PutU32BigEndian(m_frame + kPayloadOffset, address);
        m_wireLength = 4;
    } else {
        // Compared in 64 bits so that a wrap past 0xFFFFFFFF never counts as following on.
        const bool followsOn = uint64_t(m_address) + m_dataCount == address;
        if (m_dataCount >= kMaxData || !followsOn) {
            if (number > 0)
                StoreCarry(address, number, values);
            return true;
        }
    }

    for (uint16_t i = 0; i < number; ++i) {
        m_frame[kPayloadOffset + m_wireLength] = uint8_t(values[i] & 0xFF);
        ++m_wireLength;
        ++m_dataCount;
        if (m_dataCount == kMaxData) {
            const uint16_t taken = uint16_t(i + 1);
            if (taken < number)
                StoreCarry(address + taken, uint16_t(number - taken), values + taken);
            return true;
        }
    }
    return false;
}

void UploadRecord::Finalise()
{
    uint16_t payload = m_wireLength;
    uint8_t* p = m_frame + kPayloadOffset;
    if (payload % 2 != 0)
        p[payload++] = 0x00;

    uint16_t checksum = 0;
    for (uint16_t i = 0; i < payload; i += 2)
        checksum ^= uint16_t(p[i] << 8 | p[i + 1]);

    const uint16_t words = payload / 2;
    m_frame[0] = kStartMark;
    m_frame[1] = uint8_t(words >> 8);
    m_frame[2] = uint8_t(words);
    p[payload] = uint8_t(checksum >> 8);
    p[payload + 1] = uint8_t(checksum);
    p[payload + 2] = kEndMark;
    m_wireLength = uint16_t(payload + 6);
}

void UploadRecord::MakeEndRecord()
{
    static constexpr uint8_t kEnd[] = {kStartMark, 0x00, 0x00, 0x00, 0x00, kEndMark};
    m_address = 0;
    std::memcpy(m_frame, kEnd, sizeof kEnd);
    m_wireLength = sizeof kEnd;
}

void UploadRecord::MakeRangeRecord(uint32_t start, uint32_t end)
{
    m_address = start;
    PutU32BigEndian(m_frame + kPayloadOffset, start);
    PutU32BigEndian(m_frame + kPayloadOffset + 4, end);
    m_wireLength = 8;
    Finalise();
}

void UploadRecord::PutU32BigEndian(uint8_t* dest, uint32_t value)
{
    dest[0] = uint8_t(value >> 24);
    dest[1] = uint8_t(value >> 16);
    dest[2] = uint8_t(value >> 8);
    dest[3] = uint8_t(value);
}

} // namespace velmor
