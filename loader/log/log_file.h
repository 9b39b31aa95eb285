// The run's log file: emptied at open, one CR LF line per entry, each entry
// flushed as soon as it is written.
#pragma once

#include "loader/log/log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace velmor {

// Also a reporter of its own: log and status lines become entries.
class LogFile : public Reporter {
public:
    static constexpr size_t kMaxEntryBytes = 511;
    static constexpr size_t kMaxHeaderBytes = 259;

    LogFile() = default;
    ~LogFile() override;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates the file (an old one is emptied) and writes the header line,
    // unflushed. False, and nothing written later, when it cannot be created.
    bool Open(const std::string& path, const std::wstring& header);
    void Close();
    bool IsOpen() const;

    // Appends the text, cut to kMaxEntryBytes in the program's encoding, and CR LF.
    void Write(const std::wstring& text);

    void LogLine(const std::wstring& text) override { Write(text); }
    void StatusLine(const std::wstring& text) override { Write(text); }

private:
    mutable std::mutex m_mutex;
    FILE* m_file = nullptr;
};

} // namespace velmor
