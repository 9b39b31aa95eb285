// Reads a plain binary flash image (a copy of flash from 0x10000000 on) as
// upload records of 2048 bytes, never past the image's stated size.
#pragma once

#include "loader/image/flash_layout.h"
#include "loader/image/read_result.h"
#include "loader/image/upload_record.h"

#include <cstdint>
#include <cstdio>

namespace velmor {

class BinaryImageReader {
public:
    static constexpr uint16_t kBlockSize = 2048;

    BinaryImageReader() = default;
    ~BinaryImageReader();
    BinaryImageReader(const BinaryImageReader&) = delete;
    BinaryImageReader& operator=(const BinaryImageReader&) = delete;

    // Reads from an open stream, which it then owns.
    bool Adopt(FILE* file);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }

    bool Analyse();
    void Rewind();
    ReadResult ReadBytes(uint8_t* buffer, uint32_t maximum, uint32_t& count);
    bool ReadNextBlock(UploadRecord& record);

    // The open file, for the image checks that seek and read in it freely.
    FILE* File() const { return m_file; }
    uint32_t StartAddress() const { return m_startAddress; }
    uint32_t EntryPoint() const { return m_entryPoint; }
    uint32_t Size() const { return m_size; }

private:
    FILE* m_file = nullptr;
    uint32_t m_currentAddress = 0;
    uint32_t m_startAddress = kFlashBase;
    uint32_t m_entryPoint = kFlashBase;
    uint32_t m_size = 0;
};

} // namespace velmor
