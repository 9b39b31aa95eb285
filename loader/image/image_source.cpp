// Image type by content, then every call goes to the reader of that type.
#include "loader/image/image_source.h"

#include "loader/image/image_snapshot.h"

namespace velmor {

const char* ImageTypeName(ImageType type)
{
    return type == ImageType::MotorolaSRecord ? "Motorola S-Record" : "Binary";
}

ImageSource::~ImageSource()
{
    Close();
    m_srecord.Close();
}

bool ImageSource::Open(const std::vector<uint8_t>& bytes)
{
    if (!m_srecord.Adopt(OpenBytes(bytes)))
        return false;
    if (m_srecord.Probe()) {
        m_type = ImageType::MotorolaSRecord;
        return true;
    }
    m_srecord.Close();
    if (!m_binary.Adopt(OpenBytes(bytes)))
        return false;
    m_type = ImageType::Binary;
    return true;
}

bool ImageSource::Analyse()
{
    switch (m_type) {
    case ImageType::Binary:
        if (!m_binary.Analyse())
            return false;
        m_startAddress = m_binary.StartAddress();
        m_entryPoint = m_binary.EntryPoint();
        m_size = m_binary.Size();
        return true;
    case ImageType::MotorolaSRecord:
        if (!m_srecord.Scan())
            return false;
        m_startAddress = m_srecord.LowestAddress();
        m_entryPoint = m_srecord.EntryPoint();
        m_size = m_srecord.Size();
        return true;
    }
    return false;
}

void ImageSource::Rewind()
{
    if (m_type == ImageType::Binary)
        m_binary.Rewind();
    else
        m_srecord.Rewind();
}

bool ImageSource::ReadNextBlock(UploadRecord& record)
{
    switch (m_type) {
    case ImageType::Binary:
        return m_binary.ReadNextBlock(record);
    case ImageType::MotorolaSRecord:
        return m_srecord.ReadNextBlock(record);
    }
    return false;
}

void ImageSource::Close()
{
    if (m_type == ImageType::Binary)
        m_binary.Close();
    else
        m_srecord.Close();
}

} // namespace velmor
