// Binary image reading: one file read per upload record.
#include "loader/image/binary_image_reader.h"

namespace velmor {
namespace {

bool ReadU32LittleEndian(FILE* file, uint32_t& value)
{
    uint8_t b[4];
    if (std::fread(b, 1, 4, file) != 4)
        return false;
    value = LittleEndianWord(b);
    return true;
}

} // namespace

BinaryImageReader::~BinaryImageReader()
{
    Close();
}

bool BinaryImageReader::Adopt(FILE* file)
{
    if (file != m_file)
        Close();
    m_file = file;
    return m_file != nullptr;
}

void BinaryImageReader::Close()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool BinaryImageReader::Analyse()
{
    m_startAddress = kFlashBase;
    m_entryPoint = kFlashBase;
    if (!m_file)
        return false;

    uint32_t fwStart = 0;
    uint32_t fwEnd = 0;
    if (std::fseek(m_file, long(kFwOffset + kHeaderOffset), SEEK_SET) != 0 || !ReadU32LittleEndian(m_file, fwStart)
        || fwStart != kFwStart || !ReadU32LittleEndian(m_file, fwEnd))
        return false;
    std::fseek(m_file, 0, SEEK_SET);
    m_size = fwEnd - kFlashBase;
    return true;
}

void BinaryImageReader::Rewind()
{
    if (m_file) {
        std::fseek(m_file, 0, SEEK_SET);
        std::clearerr(m_file);
    }
    m_currentAddress = m_startAddress;
}

ReadResult BinaryImageReader::ReadBytes(uint8_t* buffer, uint32_t maximum, uint32_t& count)
{
    count = 0;
    if (!m_file)
        return ReadResult::Error;

    const size_t got = std::fread(buffer, 1, maximum, m_file);
    if (std::ferror(m_file))
        return ReadResult::Error;
    if (got == 0)
        return ReadResult::EndOfFile;

    const long end = std::ftell(m_file);
    if (end < 0)
        return ReadResult::Error;
    count = uint32_t(got);
    if (uint64_t(end) > m_size) {
        // Nothing at or past offset `size` belongs to the image (the FW checksum word follows it).
        const uint64_t excess = uint64_t(end) - m_size;
        count = excess >= got ? 0 : uint32_t(got - excess);
        std::fseek(m_file, 0, SEEK_END);
    }
    return ReadResult::Data;
}

bool BinaryImageReader::ReadNextBlock(UploadRecord& record)
{
    record.Reset();
    uint8_t bytes[kBlockSize];
    uint32_t count = 0;
    if (ReadBytes(bytes, kBlockSize, count) == ReadResult::Error)
        return false;

    uint16_t values[kBlockSize];
    for (uint32_t i = 0; i < count; ++i)
        values[i] = bytes[i];
    record.Append(m_currentAddress, uint16_t(count), values);
    record.Finalise();
    m_currentAddress += count;
    return true;
}

} // namespace velmor
