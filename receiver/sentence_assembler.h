// Cuts the byte stream from the host into sentence lines: from a '$' to LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace receiver {

class SentenceAssembler {
public:
    // Longer than any query; a runaway line is dropped rather than grown.
    static constexpr size_t kMaxLine = 160;

    // Takes one byte. True when it ended a line, which is then in `line`:
    // from its '$', without CR or LF.
    bool Feed(uint8_t byte, std::string& line);
    // Drops a line in progress, as when garbled bytes broke into it.
    void Reset();
    // A line has begun and not yet ended.
    bool InLine() const { return m_inLine; }

private:
    std::string m_line;
    bool m_inLine = false;
};

} // namespace receiver
