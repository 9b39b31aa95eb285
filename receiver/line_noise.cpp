// Garbage for bytes that cross a line at mismatched rates.
#include "receiver/line_noise.h"

namespace receiver {

void LineNoise::Garble(unsigned senderBaud, unsigned receiverBaud, std::string& out)
{
    if (senderBaud == 0 || receiverBaud == 0)
        return;   // a hung-up line delivers nothing at all
    m_carry += double(receiverBaud) / double(senderBaud);
    while (m_carry >= 1.0) {
        out += char(NextGarbage());
        m_carry -= 1.0;
    }
}

uint8_t LineNoise::NextGarbage()
{
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return uint8_t(kGarbageBits | (m_state & 0x3F));
}

} // namespace receiver
