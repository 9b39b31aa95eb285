#include "loader/cli/port_reporter.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace velmor::cli {
namespace {

std::string TimeStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", int(millis));
    return text;
}

} // namespace

FILE* OpenForAppend(const std::string& path, std::string& why)
{
    const int fd = ::platform::OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, why);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "a");
    if (!file) {
        why = std::strerror(errno);
        close(fd);
    }
    return file;
}

std::string LogName(const std::string& port)
{
    // A device folder name stands for its device, as the port opener reads it.
    const bool folderName = port.find('/') == std::string::npos && port.find("://") == std::string::npos;
    std::string name = port;
    if (folderName) {
        if (!name.empty() && name.back() == ':')
            name.pop_back();
        for (char& c : name)
            c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string encoded;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '_' || (c == '.' && !encoded.empty())) {
            encoded += char(c);
        } else if (c == '/') {
            encoded += '+';
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    return "velmor-" + (encoded.empty() ? std::string("%") : encoded) + ".log";
}

PortReporter::PortReporter(std::string port, const std::string& logPath) : m_port(std::move(port))
{
    m_log = OpenForAppend(logPath, m_logError);
    m_snapshot.phaseStart = std::chrono::steady_clock::now();
}

PortReporter::~PortReporter()
{
    if (m_log)
        std::fclose(m_log);
}

void PortReporter::Write(const std::wstring& text)
{
    if (m_log) {
        std::fprintf(m_log, "%s %s\n", TimeStamp().c_str(), platform::Narrow(text).c_str());
        std::fflush(m_log);
    }
}

void PortReporter::LogLine(const std::wstring& text)
{
    std::lock_guard lock(m_mutex);
    Write(text);
    m_snapshot.lastLine = text;
}

void PortReporter::StatusLine(const std::wstring& text)
{
    std::lock_guard lock(m_mutex);
    Write(text);
    if (!text.empty())
        m_snapshot.lastLine = text;
}

void PortReporter::Note(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    Write(platform::Widen(text));
}

void PortReporter::Progress(Phase phase, uint64_t done, uint64_t total)
{
    std::lock_guard lock(m_mutex);
    if (phase != m_snapshot.phase)
        m_snapshot.phaseStart = std::chrono::steady_clock::now();
    m_snapshot.phase = phase;
    m_snapshot.done = done;
    m_snapshot.total = total;
}

void PortReporter::Finish(const std::string& outcome)
{
    std::lock_guard lock(m_mutex);
    Write(platform::Widen(outcome));
    m_snapshot.finished = true;
    m_snapshot.outcome = outcome;
}

PortReporter::Snapshot PortReporter::Take() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}

} // namespace velmor::cli
