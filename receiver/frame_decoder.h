// Record frames as the board's loaders read them off the wire: start mark,
// big-endian word count, payload, XOR checksum of big-endian words, end mark.
// The board's own decoder, so a fault in the loader's encoder shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace receiver {

struct DecodedFrame {
    uint8_t error = 0;            // 0, or the record error code that answers the frame
    uint16_t words = 0;           // payload length in 16-bit words
    uint32_t address = 0;         // 0 when the frame ended before it
    std::vector<uint8_t> data;    // the payload after the address, a padding byte included
};

class FrameDecoder {
public:
    static constexpr uint8_t kStartMark = 0x5B;
    static constexpr uint8_t kEndMark = 0x5D;
    static constexpr uint16_t kAddressWords = 2;
    static constexpr uint16_t kMaxWords = 1026;   // an address and 2048 data bytes

    // Begins a frame whose start mark has just been taken.
    void Start();
    // True when `byte` ended the frame; Frame() then holds it. A word count
    // out of range ends the frame at once with BAD_LENGTH, ahead of its payload.
    bool Feed(uint8_t byte);
    // Ends an unfinished frame with RECORD_TIMEOUT.
    void Cut();
    const DecodedFrame& Frame() const { return m_frame; }

private:
    enum class Part { Count, Payload, Checksum, EndMark };

    void Finish(uint8_t error);

    Part m_part = Part::Count;
    uint16_t m_field = 0;         // the count or checksum being read
    size_t m_fieldBytes = 0;
    std::vector<uint8_t> m_payload;
    DecodedFrame m_frame;
};

} // namespace receiver
