// Motorola S-record reading. Every line is checked in full before any field is
// taken from it, so a malformed line can never make the reader look past its end.
#include "loader/image/srecord_reader.h"

#include <algorithm>
#include <cstring>

namespace velmor {
namespace {

constexpr int8_t HexValue(char c)
{
    if (c >= '0' && c <= '9') return int8_t(c - '0');
    if (c >= 'A' && c <= 'F') return int8_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int8_t(c - 'a' + 10);
    return -1;
}

// Two hex digits as a byte, or -1.
int HexByte(const char* p)
{
    const int hi = HexValue(p[0]);
    const int lo = HexValue(p[1]);
    return (hi < 0 || lo < 0) ? -1 : hi << 4 | lo;
}

// Address bytes of each line type; 0 where the width is not fixed by the type.
int AddressBytes(char type)
{
    switch (type) {
    case '0': case '1': case '5': case '9': return 2;
    case '2': case '6': case '8': return 3;
    case '3': case '7': return 4;
    default: return 0;
    }
}

uint32_t ParseHex(const char* p, int digits)
{
    uint32_t value = 0;
    for (int i = 0; i < digits; ++i)
        value = value << 4 | uint32_t(HexValue(p[i]));
    return value;
}

} // namespace

SRecordReader::~SRecordReader()
{
    Close();
}

bool SRecordReader::Open(const char* path)
{
    Close();
    FILE* file = std::fopen(path, "r");
    if (!file)
        return false;
    std::setvbuf(file, m_fileBuffer, _IOFBF, sizeof m_fileBuffer);
    return Adopt(file);
}

bool SRecordReader::Adopt(FILE* file)
{
    if (file != m_file)
        Close();
    m_file = file;
    m_pending.flag = false;
    m_hasData = false;
    if (m_file)
        Rewind();
    return m_file != nullptr;
}

void SRecordReader::Close()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

int SRecordReader::ReadLine()
{
    int n = 0;
    while (n < kMaxRead) {
        const int c = getc_unlocked(m_file);
        if (c == EOF)
            break;
        m_line[n++] = char(c);
        if (c == '\n')
            break;
    }
    m_line[n] = '\0';
    // A failing disk must not look like a shorter image.
    return std::ferror(m_file) ? -1 : n;
}

bool SRecordReader::VerifyChecksum(const char* line)
{
    const size_t length = std::strlen(line);
    if (length < 4 || line[0] != 'S')
        return false;
    const int count = HexByte(line + 2);
    if (count < 1 || length != 4 + 2 * size_t(count))
        return false;

    unsigned sum = unsigned(count);
    for (int i = 1; i < count; ++i) {
        const int b = HexByte(line + 2 + 2 * i);
        if (b < 0)
            return false;
        sum += unsigned(b);
    }
    const int checksum = HexByte(line + 2 + 2 * count);
    return checksum >= 0 && unsigned(checksum) == (~sum & 0xFFu);
}

ReadResult SRecordReader::ReadRecord(SRecord& record)
{
    m_line[0] = '\0';
    if (!m_file)
        return ReadResult::Error;

    const int read = ReadLine();
    if (read == 0)
        return ReadResult::EndOfFile;
    m_errorLine = ++m_lineNumber;   // kept only if this line fails
    if (read < 0)
        return ReadResult::Error;

    m_line[std::strcspn(m_line, "\r\n")] = '\0';
    if (std::strlen(m_line) > size_t(kMaxLineLength) || m_line[0] != 'S' || !VerifyChecksum(m_line))
        return ReadResult::Error;

    const char typeChar = m_line[1];
    const int byteCount = HexByte(m_line + 2);   // checked above: 1 or more
    record.type = uint8_t(typeChar - '0');

    int addressBytes = AddressBytes(typeChar);
    if (addressBytes == 0)
        addressBytes = std::min(4, byteCount - 1);
    else if (byteCount < addressBytes + 1)
        return ReadResult::Error;   // too short for its own address field

    if (typeChar == '0') {
        record.count = 0;
        record.address = 0;
        return ReadResult::Data;
    }

    record.address = ParseHex(m_line + 4, 2 * addressBytes);
    if (typeChar < '1' || typeChar > '3') {
        record.count = uint16_t(byteCount);
        return ReadResult::Data;
    }

    const int dataCount = byteCount - addressBytes - 1;
    if (uint64_t(record.address) + uint64_t(dataCount) > 0x100000000ull)
        return ReadResult::Error;   // data would run past the 32-bit address space
    const char* p = m_line + 4 + 2 * addressBytes;
    for (int i = 0; i < dataCount; ++i, p += 2)
        record.data[i] = uint16_t(HexByte(p));
    record.count = uint16_t(dataCount);
    record.checksum = uint16_t(HexByte(p));
    return ReadResult::Data;
}

bool SRecordReader::Probe()
{
    SRecord record;
    if (ReadRecord(record) == ReadResult::Error)
        return false;
    Rewind();
    return true;
}

bool SRecordReader::Scan()
{
    if (!m_file)
        return false;
    Rewind();

    uint32_t lowest = 0xFFFFFFFF;
    uint32_t entry = 0xFFFFFFFF;
    uint64_t end = 0;   // one past the last data byte; may be 2^32
    SRecord record;
    for (;;) {
        const ReadResult result = ReadRecord(record);
        if (result == ReadResult::EndOfFile)
            break;
        if (result == ReadResult::Error)
            return false;
        if (record.type == 3 && record.count > 0) {
            lowest = std::min(lowest, record.address);
            end = std::max(end, uint64_t(record.address) + record.count);
        } else if (record.type == 7) {
            entry = record.address;
        }
    }
    m_lowestAddress = lowest;
    m_entryPoint = entry == 0xFFFFFFFF ? lowest : entry;
    // With no data at all this gives 1, as 0 - 0xFFFFFFFF; callers reject the start address then.
    m_size = uint32_t(end - lowest);
    m_hasData = end != 0;
    return true;
}

void SRecordReader::Rewind()
{
    if (m_file) {
        std::fseek(m_file, 0, SEEK_SET);
        std::clearerr(m_file);
    }
    m_pending.flag = false;
    m_lineNumber = 0;
}

bool SRecordReader::ReadNextBlock(UploadRecord& record)
{
    record.Reset();
    bool complete = false;
    if (m_pending.flag) {
        m_pending.flag = false;
        complete = record.Append(m_pending.address, m_pending.number, m_pending.values);
    }

    SRecord line;
    while (!complete) {
        const ReadResult result = ReadRecord(line);
        if (result == ReadResult::EndOfFile)
            break;
        if (result == ReadResult::Error)
            return false;
        // An S3 line without data would pin the record's address and end the image early.
        if (line.type != 3 || line.count == 0)
            continue;
        complete = record.Append(line.address, line.count, line.data);
    }

    const RecordCarry& carry = record.Carry();
    m_pending.flag = carry.flag;
    if (carry.flag) {
        m_pending.address = carry.address;
        m_pending.number = carry.number;
        std::copy_n(carry.values, carry.number, m_pending.values);
    }
    record.Finalise();
    return true;
}

} // namespace velmor
