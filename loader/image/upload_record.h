// One upload record under assembly: up to 2048 data bytes for consecutive
// target addresses, the data that did not fit, and the wire frame built from them.
#pragma once

#include <cstdint>

namespace velmor {

// Values left over from an Append, to open the next record with.
struct RecordCarry {
    static constexpr uint16_t kCapacity = 2063;

    bool flag = false;
    uint32_t address = 0;
    uint16_t values[kCapacity] = {};
    uint16_t number = 0;
};

class UploadRecord {
public:
    static constexpr uint16_t kMaxData = 2048;      // one acknowledgement covers at most 2 KB
    static constexpr uint16_t kFrameCapacity = 2064;
    static constexpr uint8_t kStartMark = 0x5B;     // '['
    static constexpr uint8_t kEndMark = 0x5D;       // ']'

    void Reset();
    // Adds `number` byte values (low 8 bits used) at `address`. True when the
    // record is complete: full, or the values do not follow on; what did not go
    // in is then in the carry. `number` must not exceed RecordCarry::kCapacity.
    bool Append(uint32_t address, uint16_t number, const uint16_t* values);
    void Finalise();
    void MakeEndRecord();
    void MakeRangeRecord(uint32_t start, uint32_t end);
    static void PutU32BigEndian(uint8_t* dest, uint32_t value);

    uint32_t Address() const { return m_address; }
    const uint8_t* Frame() const { return m_frame; }
    // The data bytes inside the frame, after the command, length and address.
    const uint8_t* Data() const { return m_frame + kDataOffset; }
    uint16_t WireLength() const { return m_wireLength; }
    uint16_t DataCount() const { return m_dataCount; }
    const RecordCarry& Carry() const { return m_carry; }

private:
    static constexpr int kPayloadOffset = 3;
    static constexpr int kDataOffset = 7;

    void StoreCarry(uint32_t address, uint16_t number, const uint16_t* values);

    uint32_t m_address = 0;
    uint8_t m_frame[kFrameCapacity] = {};
    uint16_t m_wireLength = 0;   // payload bytes while assembling, frame bytes after Finalise
    uint16_t m_dataCount = 0;
    bool m_fresh = true;
    RecordCarry m_carry;
};

} // namespace velmor
