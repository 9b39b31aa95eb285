// The loader's one way into a firmware image: tells binary from S-record by
// content, reports start, entry and size, and hands the image out as records.
#pragma once

#include "loader/image/binary_image_reader.h"
#include "loader/image/srecord_reader.h"
#include "loader/image/upload_record.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace velmor {

enum class ImageType : int32_t {
    Binary = 0,
    MotorolaSRecord = 1,
};

// Shown to the user as the image's type.
const char* ImageTypeName(ImageType type);

class ImageSource {
public:
    ImageSource() = default;
    ~ImageSource();
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;

    // Reads from the bytes, which must outlive the source; a source of its
    // own per reader, so several ports can read one snapshot at once.
    bool Open(const std::vector<uint8_t>& bytes);
    bool Analyse();
    void Rewind();
    bool ReadNextBlock(UploadRecord& record);
    void Close();

    ImageType Type() const { return m_type; }
    uint32_t StartAddress() const { return m_startAddress; }
    uint32_t EntryPoint() const { return m_entryPoint; }
    uint32_t Size() const { return m_size; }
    // After a failed Analyse of an S-record image: the line it stopped at.
    unsigned ErrorLine() const { return m_srecord.ErrorLine(); }

private:
    ImageType m_type = ImageType::Binary;
    SRecordReader m_srecord;
    BinaryImageReader m_binary;
    uint32_t m_startAddress = 0;
    uint32_t m_entryPoint = 0;
    uint32_t m_size = 0;
};

} // namespace velmor
