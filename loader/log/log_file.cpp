#include "loader/log/log_file.h"

#include "platform/text.h"

namespace velmor {

LogFile::~LogFile()
{
    Close();
}

bool LogFile::Open(const std::string& path, const std::wstring& header)
{
    std::lock_guard lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "w+b");
    if (!m_file)
        return false;
    const std::string bytes = platform::Narrow(header + L"\r\n", kMaxHeaderBytes);
    std::fwrite(bytes.data(), 1, bytes.size(), m_file);
    return true;
}

void LogFile::Close()
{
    std::lock_guard lock(m_mutex);
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool LogFile::IsOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_file != nullptr;
}

void LogFile::Write(const std::wstring& text)
{
    const std::string bytes = platform::Narrow(text, kMaxEntryBytes);
    std::lock_guard lock(m_mutex);
    if (!m_file)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), m_file);
    std::fwrite("\r\n", 1, 2, m_file);
    std::fflush(m_file);
}

} // namespace velmor
