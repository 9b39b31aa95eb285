// Receiver detection and memory queries. Replies are parsed only up to their
// terminating NUL: a short or odd line yields "no value", never a read past it.
#include "loader/serial/receiver_query.h"

#include "loader/log/log.h"
#include "loader/upload/byte_codes.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <chrono>
#include <cstring>

namespace velmor {
namespace {

constexpr int kPfldVersionWords = 9;   // the 32 bytes before the checksum word, and that word
constexpr int kPfldVersionScan = 31;   // positions where "v<digit>" may start

bool IsHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

unsigned HexDigitValue(char c)
{
    return IsDigit(c) ? unsigned(c - '0') : unsigned(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
}

// Like strtoul(p, 0, 16) on a line: blanks and a 0x prefix accepted, stops at
// the first non-hex character. Values beyond 32 bits come back as more than 32 bits.
uint64_t ParseHex(const char* p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && IsHexDigit(p[2]))
        p += 2;
    uint64_t value = 0;
    for (; IsHexDigit(*p); ++p)
        value = std::min<uint64_t>(value << 4 | HexDigitValue(*p), 0x1FFFFFFFFull);
    return value;
}

// Decimal digits from p (at most up to end), modulo 256; `p` moves past them.
uint8_t ParseDecimalByte(const char*& p, const char* end)
{
    unsigned value = 0;
    for (; p < end && IsDigit(*p); ++p)
        value = (value * 10 + unsigned(*p - '0')) & 0xFF;
    return uint8_t(value);
}

void CopyVersionText(SectionInfo& section, const char* text, size_t length)
{
    const size_t n = std::min(length, sizeof section.text - 1);
    std::memcpy(section.text, text, n);
    section.text[n] = '\0';
}

} // namespace

void ReceiverQuery::ReadPfldVersion(SectionInfo& section, uint32_t end)
{
    char bytes[256] = {};
    for (int i = 0; i < kPfldVersionWords; ++i) {
        const uint32_t word = ReadReceiverWord(end - 32 + 4 * uint32_t(i));
        for (int b = 0; b < 4; ++b)
            bytes[4 * i + b] = char(word >> (8 * b));
    }
    int marker = -1;
    for (int p = 0; p < kPfldVersionScan; ++p)
        if (bytes[p] == 'v' && IsDigit(bytes[p + 1]))
            marker = p;
    if (marker < 0)
        return;

    const char* text = bytes + marker + 1;
    size_t length = 0;
    while (uint8_t(text[length]) > 0x20 && uint8_t(text[length]) < 0x80)
        ++length;
    CopyVersionText(section, text, length);
    const char* textEnd = text + length;
    const char* p = text;
    section.major = ParseDecimalByte(p, textEnd);
    if (p < textEnd)
        ++p;   // the separator
    section.minor = ParseDecimalByte(p, textEnd);
}

void ReceiverQuery::ReadFwVersion(SectionInfo& section)
{
    static constexpr const char* kPrefix = "$PKVRR,RID,";
    SerialWrite(m_link, "$PKVRQ,RID\r\n", 0);
    const char* line = WaitReply(kPrefix, false);
    if (!line)
        return;
    const char* comma = std::strchr(line + std::strlen(kPrefix), ',');   // end of field 3
    if (!comma)
        return;
    const char* text = comma + 1;
    size_t length = 0;
    while (uint8_t(text[length]) > '*')
        ++length;
    CopyVersionText(section, text, length);
    const char* end = text + length;
    const char* p = text + std::min<size_t>(1, length);
    while (p < end && !IsDigit(*p))
        ++p;
    section.minor = ParseDecimalByte(p, end);
}

const char* ReceiverQuery::WaitReply(const char* prefix, bool strict)
{
    std::memset(m_reply, 0, sizeof m_reply);
    const size_t prefixLength = std::strlen(prefix);
    size_t position = 0;
    int emptyReads = 0;
    while (emptyReads < kReplyEmptyReads && !m_link.StopRequested()) {
        uint8_t byte = 0;
        // A byte that comes ends the wait at once; silence costs the pause.
        const int got = m_link.line.Read(&byte, 1, std::chrono::milliseconds(kReplyPauseMs + 2));
        if (got != 1) {
            if (got < 0)
                m_link.Pause(kReplyPauseMs);
            ++emptyReads;
            continue;
        }
        if (position < prefixLength && char(byte) != prefix[position]) {
            position = 0;
            if (strict)
                return nullptr;
            continue;
        }
        m_reply[position++] = char(byte);
        if (position >= sizeof m_reply - 1) {
            // Too long for a reply: start matching afresh. The last byte stays a NUL.
            std::memset(m_reply, 0, sizeof m_reply);
            position = 0;
            continue;
        }
        if (position >= prefixLength
            && (byte == '\n' || (position >= 2 && m_reply[position - 2] == '\r')))
            return m_reply;
    }
    return nullptr;
}

uint32_t ReceiverQuery::ReadReceiverWord(uint32_t address)
{
    char query[32];
    const char* field = nullptr;
    if (!m_pflFlag) {
        static constexpr const char* kPrefix = "$PKVRR,RDM,";
        std::snprintf(query, sizeof query, "$PKVRQ,RDM,%X\r\n", address);
        SerialWrite(m_link, query, 0);
        const char* line = WaitReply(kPrefix, false);
        if (line)
            field = line + std::strlen(kPrefix);
    } else {
        std::snprintf(query, sizeof query, "$R%X\r\n", address);
        SerialWrite(m_link, query, 0);
        const char* line = WaitReply("R", true);
        if (line)
            field = line + 1;
    }
    m_answered = false;
    if (!field || ParseHex(field) != address)
        return kNoWord;
    const char* separator = std::strpbrk(field, ",:");
    if (!separator)
        return kNoWord;   // an echo without a value says nothing of the word
    m_answered = true;
    return uint32_t(ParseHex(separator + 1));
}

int ReceiverQuery::ProbeSection(uint32_t start, uint32_t limit, SectionInfo& section)
{
    if (ReadReceiverWord(start + 0x20) != start)
        return 0;
    section.start = start;
    const uint32_t end = ReadReceiverWord(start + 0x24);
    if (end <= start || end >= limit)
        return 0;
    section.crc = ReadReceiverWord(end);
    section.length = end - start;
    if (start == kFlashBase)
        ReadPfldVersion(section, end);
    else
        ReadFwVersion(section);
    return 1;
}

int ReceiverQuery::DetectReceiver(ReceiverInfo& info)
{
    info = ReceiverInfo {};
    // A receiver found in PFL mode earlier may be back in command mode now.
    m_pflFlag = false;

    SerialSetBaud(m_link, kPflBaud);
    SerialWrite(m_link, "$A\r\n", 0);
    if (WaitReply("A:", true)) {
        m_link.report.LogLine(L"PFL mode detected");
        m_pflFlag = true;
        const int pfld = ProbeSection(kFlashBase, kFwStart, info.pfld);
        ProbeSection(kFwStart, kFlashEnd, info.fw);
        if (pfld) {
            info.pflMode = true;
            info.baud = kPflBaud;
            info.connected = true;
            return 1;
        }
    }

    uint32_t answered = 0;
    for (uint32_t baud : kBaudScanList) {
        if (m_link.StopRequested())
            return 0;
        SerialSetBaud(m_link, baud);
        SerialWrite(m_link, "$PKVRQ,PRT\r\n", 0);
        if (WaitReply("$PKVRR", false)) {
            answered = baud;
            break;
        }
    }
    if (answered == 0) {
        info.connected = false;
        info.loaderOnly = !m_link.StopRequested() && ProbeLoader();
        return 0;
    }
    info.baud = answered;
    int result = ProbeSection(kFlashBase, kFwStart, info.pfld);
    if (result)
        result = ProbeSection(kFwStart, kFlashEnd, info.fw);
    info.connected = result != 0;
    return result;
}

bool ReceiverQuery::ProbeLoader()
{
    SerialSetBaud(m_link, kPflBaud);
    SerialPutByte(m_link, SYNC_CODE);
    uint8_t byte = 0;
    return SerialGetByte(m_link, byte, 0) == 1 && byte == SYNC_CODE;
}

Outcome ConnectGps(const std::string& portName, Reporter& report, ReceiverInfo& info, std::stop_token stop,
                   SerialLine::Clock::time_point deadline)
{
    info = ReceiverInfo {};
    Outcome outcome;
    const auto port = SerialOpen(portName, kConnectBaud, report, outcome);
    if (!port) {
        report.StatusLine(L"Cannot open GPS port.");
        return outcome;
    }
    report.StatusLine(L"Waiting data from GPS...");
    const Link link {*port, report, stop, deadline};
    {
        ReceiverQuery query(link);
        query.DetectReceiver(info);
    }
    if (link.StopRequested()) {
        // Half a detection says nothing of the receiver: no report of it.
        report.StatusLine(L"");
        info = ReceiverInfo {};
        return link.Failure(Fault::Stopped, Phase::Connect);
    }

    report.LogLine(L" GPS flash information");
    ReportSection(report, info.pfld, "Pfld");
    ReportSection(report, info.fw, "Main FW");
    if (info.connected && info.baud != 0) {
        char line[40];
        std::snprintf(line, sizeof line, "GPS connected at %d", int(info.baud));
        LogNarrow(report, line);
        report.StatusLine(L"");
        return {};
    }
    report.LogLine(L"Cannot connect to GPS.");
    if (info.loaderOnly)
        report.LogLine(L"A GPS loader answers at 19200: an upload was left unfinished.");
    report.StatusLine(L"");
    outcome = Outcome::Failed(Fault::NoReceiver, Phase::Connect);
    outcome.loaderAnswered = info.loaderOnly;
    return outcome;
}

} // namespace velmor
