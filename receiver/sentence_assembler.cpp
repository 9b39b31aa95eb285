// Line assembly for received sentences.
#include "receiver/sentence_assembler.h"

#include "receiver/nmea_sentence.h"

namespace receiver {

bool SentenceAssembler::Feed(uint8_t byte, std::string& line)
{
    // A '$' always opens a new line: a host that gave up on a query starts over.
    if (byte == uint8_t(kSentenceStart)) {
        m_line.assign(1, kSentenceStart);
        m_inLine = true;
        return false;
    }
    if (!m_inLine)
        return false;
    if (byte == '\n') {
        while (!m_line.empty() && m_line.back() == '\r')
            m_line.pop_back();
        line = m_line;
        Reset();
        return true;
    }
    if (m_line.size() >= kMaxLine) {
        Reset();
        return false;
    }
    m_line += char(byte);
    return false;
}

void SentenceAssembler::Reset()
{
    m_line.clear();
    m_inLine = false;
}

} // namespace receiver
