// Receiver detection and memory queries. Replies are parsed only up to their
// terminating NUL: a short or odd line yields "no value", never a read past it.
#include "loader/serial/receiver_query.h"

#include "loader/log/log.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace velmor {
namespace {

ReceiverInfo g_receiverInfo;
bool g_pflFlag = false;
char g_replyBuffer[kReplyBufferSize];

constexpr size_t kLogNarrowMax = 199;
constexpr size_t kReplyTextMax = 254;
constexpr size_t kReplyTextSkip = 5;   // "$VER,"
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

void ReadPfldVersion(SectionInfo& section, uint32_t end, PortHandle port)
{
    char bytes[256] = {};
    for (int i = 0; i < kPfldVersionWords; ++i) {
        const uint32_t word = ReadReceiverWord(end - 32 + 4 * uint32_t(i), port);
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

void ReadFwVersion(SectionInfo& section, PortHandle port)
{
    static constexpr const char* kPrefix = "$PKVRR,RID,";
    SerialWrite(port, "$PKVRQ,RID\r\n", 0);
    const char* line = WaitReply(port, kPrefix, false);
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

} // namespace

ReceiverInfo& TheReceiverInfo()
{
    return g_receiverInfo;
}

bool PflFlag()
{
    return g_pflFlag;
}

void SetPflFlag(bool on)
{
    g_pflFlag = on;
}

const char* WaitReply(PortHandle port, const char* prefix, bool strict)
{
    std::memset(g_replyBuffer, 0, sizeof g_replyBuffer);
    const size_t prefixLength = std::strlen(prefix);
    size_t position = 0;
    int emptyReads = 0;
    while (emptyReads < kReplyEmptyReads) {
        uint8_t byte = 0;
        if (platform::ReadPort(port, &byte, 1) != 1) {
            PauseMs(kReplyPauseMs);
            ++emptyReads;
            continue;
        }
        if (position < prefixLength && char(byte) != prefix[position]) {
            position = 0;
            if (strict)
                return nullptr;
            continue;
        }
        g_replyBuffer[position++] = char(byte);
        if (position >= sizeof g_replyBuffer - 1) {
            // Too long for a reply: start matching afresh. The last byte stays a NUL.
            std::memset(g_replyBuffer, 0, sizeof g_replyBuffer);
            position = 0;
            continue;
        }
        if (position >= prefixLength
            && (byte == '\n' || (position >= 2 && g_replyBuffer[position - 2] == '\r')))
            return g_replyBuffer;
    }
    return nullptr;
}

uint32_t ReadReceiverWord(uint32_t address, PortHandle port)
{
    char query[32];
    const char* field = nullptr;
    if (!g_pflFlag) {
        static constexpr const char* kPrefix = "$PKVRR,RDM,";
        std::snprintf(query, sizeof query, "$PKVRQ,RDM,%X\r\n", address);
        SerialWrite(port, query, 0);
        const char* line = WaitReply(port, kPrefix, false);
        if (line)
            field = line + std::strlen(kPrefix);
    } else {
        std::snprintf(query, sizeof query, "$R%X\r\n", address);
        SerialWrite(port, query, 0);
        const char* line = WaitReply(port, "R", true);
        if (line)
            field = line + 1;
    }
    if (!field || ParseHex(field) != address)
        return kNoWord;
    const char* separator = std::strpbrk(field, ",:");
    if (!separator)
        return kNoWord;   // an echo without a value says nothing of the word
    return uint32_t(ParseHex(separator + 1));
}

int ProbeSection(uint32_t start, uint32_t limit, SectionInfo& section, PortHandle port)
{
    if (ReadReceiverWord(start + 0x20, port) != start)
        return 0;
    section.start = start;
    const uint32_t end = ReadReceiverWord(start + 0x24, port);
    if (end <= start || end >= limit)
        return 0;
    section.crc = ReadReceiverWord(end, port);
    section.length = end - start;
    if (start == kPfldStart)
        ReadPfldVersion(section, end, port);
    else
        ReadFwVersion(section, port);
    return 1;
}

int DetectReceiver(PortHandle port, ReceiverInfo& info)
{
    info = ReceiverInfo {};
    // A receiver found in PFL mode earlier may be back in command mode now.
    g_pflFlag = false;

    SerialSetBaud(port, kPflBaud);
    SerialWrite(port, "$A\r\n", 0);
    if (WaitReply(port, "A:", true)) {
        LogLine(L"PFL mode detected");
        g_pflFlag = true;
        const int pfld = ProbeSection(kPfldStart, kPfldLimit, info.pfld, port);
        ProbeSection(kFwStart, kFwLimit, info.fw, port);
        if (pfld) {
            info.pflMode = true;
            info.baud = kPflBaud;
            info.connected = true;
            return 1;
        }
    }

    uint32_t answered = 0;
    for (uint32_t baud : kBaudScanList) {
        SerialSetBaud(port, baud);
        SerialWrite(port, "$PKVRQ,PRT\r\n", 0);
        if (WaitReply(port, "$PKVRR", false)) {
            answered = baud;
            break;
        }
    }
    if (answered == 0) {
        info.connected = false;
        return 0;
    }
    info.baud = answered;
    int result = ProbeSection(kPfldStart, kPfldLimit, info.pfld, port);
    if (result)
        result = ProbeSection(kFwStart, kFwLimit, info.fw, port);
    info.connected = result != 0;
    return result;
}

void LogNarrow(const char* text)
{
    LogLine(platform::Widen(std::string_view(text, strnlen(text, kLogNarrowMax))));
}

void ReportSection(const SectionInfo& section, const char* label)
{
    char line[kLogNarrowMax + 1];
    if (section.length == 0) {
        std::snprintf(line, sizeof line, "%s N/a", label);
        LogNarrow(line);
        return;
    }
    std::snprintf(line, sizeof line, "%s len:0x%x", label, section.length);
    LogNarrow(line);
    if (section.crc != 0)
        std::snprintf(line, sizeof line, "%s crc:0x%x", label, section.crc);
    else
        std::snprintf(line, sizeof line, "%s crc:N/a", label);
    LogNarrow(line);
    if (section.major != 0 || section.minor != 0)
        std::snprintf(line, sizeof line, "%s ver:%d.%d (%s)", label, section.major, section.minor, section.text);
    else
        std::snprintf(line, sizeof line, "%s ver:N/a", label);
    LogNarrow(line);
}

void LogReplyText(const char* line)
{
    size_t length = std::strlen(line);
    if (length <= kReplyTextSkip)
        return;
    for (size_t i = 0; i < length; ++i) {
        if (uint8_t(line[i]) < 0x20 || uint8_t(line[i]) >= 0x80) {
            length = i;
            break;
        }
    }
    // A control byte inside "$VER," leaves nothing to skip past.
    const size_t skip = std::min(length, kReplyTextSkip);
    const std::string_view text(line + skip, std::min(length - skip, kReplyTextMax));
    LogLine(platform::Widen(text) + L".");
}

bool ConnectGps(const std::wstring& portName)
{
    ClearLogPane();
    PortHandle port = SerialOpen(portName, kConnectBaud);
    if (port == kInvalidPort) {
        StatusLine(L"Cannot open GPS port.");
        return false;
    }
    StatusLine(L"Waiting data from GPS...");
    ReceiverInfo& info = g_receiverInfo;
    DetectReceiver(port, info);
    SerialClose(port);

    LogLine(L" GPS flash information");
    ReportSection(info.pfld, "Pfld");
    ReportSection(info.fw, "Main FW");
    if (info.connected && info.baud != 0) {
        char line[40];
        std::snprintf(line, sizeof line, "GPS connected at %d", int(info.baud));
        LogNarrow(line);
        StatusLine(L"");
        return true;
    }
    LogLine(L"Cannot connect to GPS.");
    StatusLine(L"");
    return false;
}

} // namespace velmor
