// Decoding record frames on the board's side.
#include "receiver/frame_decoder.h"

#include "loader/upload/byte_codes.h"

namespace receiver {
namespace {

constexpr size_t kFieldBytes = 2;
constexpr size_t kAddressBytes = 4;

} // namespace

void FrameDecoder::Start()
{
    m_part = Part::Count;
    m_field = 0;
    m_fieldBytes = 0;
    m_payload.clear();
    m_frame = {};
}

bool FrameDecoder::Feed(uint8_t byte)
{
    switch (m_part) {
    case Part::Count:
    case Part::Checksum:
        m_field = uint16_t(m_field << 8 | byte);
        if (++m_fieldBytes < kFieldBytes)
            return false;
        m_fieldBytes = 0;
        if (m_part == Part::Checksum) {
            m_part = Part::EndMark;
            return false;
        }
        m_frame.words = m_field;
        m_field = 0;
        // Shorter than an address with data, or longer than a record may be.
        if ((m_frame.words > 0 && m_frame.words <= kAddressWords) || m_frame.words > kMaxWords) {
            Finish(velmor::BAD_LENGTH);
            return true;
        }
        m_part = m_frame.words == 0 ? Part::Checksum : Part::Payload;
        return false;
    case Part::Payload:
        m_payload.push_back(byte);
        if (m_payload.size() == 2u * m_frame.words)
            m_part = Part::Checksum;
        return false;
    case Part::EndMark:
        break;
    }

    uint16_t checksum = 0;
    for (size_t i = 0; i + 1 < m_payload.size(); i += 2)
        checksum ^= uint16_t(m_payload[i] << 8 | m_payload[i + 1]);
    // A missing end mark means the frame is out of step, so its checksum says nothing.
    if (byte != kEndMark)
        Finish(velmor::NO_REC_END);
    else
        Finish(checksum == m_field ? 0 : velmor::BAD_CSUM);
    return true;
}

void FrameDecoder::Cut()
{
    Finish(velmor::RECORD_TIMEOUT);
}

void FrameDecoder::Finish(uint8_t error)
{
    m_frame.error = error;
    if (m_payload.size() < kAddressBytes)
        return;
    for (size_t i = 0; i < kAddressBytes; ++i)
        m_frame.address = m_frame.address << 8 | m_payload[i];
    m_frame.data.assign(m_payload.begin() + kAddressBytes, m_payload.end());
}

} // namespace receiver
