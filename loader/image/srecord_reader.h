// Reads a Motorola S-record file line by line, checks every line, and hands its
// S3 data out as upload records of consecutive addresses.
#pragma once

#include "loader/image/read_result.h"
#include "loader/image/upload_record.h"

#include <cstdint>
#include <cstdio>

namespace velmor {

struct SRecord {
    uint8_t type = 0;          // character after the S minus '0'
    uint16_t count = 0;        // S1-S3: data bytes; other types: the byte-count field; S0: 0
    uint32_t address = 0;
    uint16_t data[256] = {};   // one byte value per entry
    uint16_t checksum = 0;     // S1-S3 only
};

class SRecordReader {
public:
    static constexpr int kLineBufferSize = 256;
    static constexpr int kMaxRead = 254;        // characters taken per line read
    static constexpr int kMaxLineLength = 78;   // an S3 line with 32 data bytes

    SRecordReader() = default;
    ~SRecordReader();
    SRecordReader(const SRecordReader&) = delete;
    SRecordReader& operator=(const SRecordReader&) = delete;

    bool Open(const char* path);
    // Reads from an already open file (a private copy), which it then owns.
    bool Adopt(FILE* file);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }

    ReadResult ReadRecord(SRecord& record);
    // Checks a whole line (no line end): form, length against its byte count,
    // hex digits, and the one's-complement checksum.
    static bool VerifyChecksum(const char* line);

    bool Probe();
    bool Scan();
    void Rewind();
    bool ReadNextBlock(UploadRecord& record);

    uint32_t LowestAddress() const { return m_lowestAddress; }
    uint32_t EntryPoint() const { return m_entryPoint; }
    uint32_t Size() const { return m_size; }
    // After Scan: whether any S3 line carried data.
    bool HasData() const { return m_hasData; }
    // The number of the line (from 1) that the last failed read stopped at.
    unsigned ErrorLine() const { return m_errorLine; }

private:
    static constexpr size_t kFileBufferSize = 64 * 1024;

    // -1 on a read error, else the number of characters stored (0 at the end).
    int ReadLine();

    FILE* m_file = nullptr;
    char m_line[kLineBufferSize] = {};
    unsigned m_lineNumber = 0;   // lines read since the last rewind
    unsigned m_errorLine = 0;
    RecordCarry m_pending;
    uint32_t m_lowestAddress = 0;
    uint32_t m_entryPoint = 0;
    uint32_t m_size = 0;
    bool m_hasData = false;
    char m_fileBuffer[kFileBufferSize];   // stdio buffer owned here: reading allocates nothing
};

} // namespace velmor
