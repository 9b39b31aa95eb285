#include "loader/cli/port_reporter.h"

#include "platform/text.h"

#include <ctime>

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

const char* PhaseName(Phase phase)
{
    switch (phase) {
    case Phase::Connect: return "connect";
    case Phase::Handoff: return "hand-off";
    case Phase::Erase: return "erase";
    case Phase::Program: return "program";
    case Phase::Verify: return "verify";
    }
    return "?";
}

PortReporter::PortReporter(std::string port, const std::string& logPath, std::optional<bool> pfld)
    : m_port(std::move(port)), m_pfld(pfld), m_log(std::fopen(logPath.c_str(), "a"))
{
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

platform::MessageAnswer PortReporter::Ask(const platform::Message& message)
{
    std::lock_guard lock(m_mutex);
    Write(message.text);
    if (message.buttons == platform::MessageButtons::Ok) {
        // The box's text is fixed; the line logged just before it says why.
        m_lastError = m_snapshot.lastLine.empty() ? message.text : m_snapshot.lastLine;
        return platform::MessageAnswer::Ok;
    }
    // The one question the engine asks: whether to rewrite the PFLD. A script
    // never blocks on it: it is answered by --pfld, or declined.
    if (!m_pfld) {
        m_pfldRefused = true;
        Write(L"No answer allowed: pass --pfld yes to rewrite the PFLD, --pfld no to refuse.");
        return platform::MessageAnswer::No;
    }
    Write(*m_pfld ? L"Answered Yes (--pfld yes)." : L"Answered No (--pfld no).");
    return *m_pfld ? platform::MessageAnswer::Yes : platform::MessageAnswer::No;
}

void PortReporter::SetUploadInProgress(bool on)
{
    std::lock_guard lock(m_mutex);
    m_uploadInProgress = on;
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

bool PortReporter::PfldRefused() const
{
    std::lock_guard lock(m_mutex);
    return m_pfldRefused;
}

bool PortReporter::UploadInProgress() const
{
    std::lock_guard lock(m_mutex);
    return m_uploadInProgress;
}

std::wstring PortReporter::LastError() const
{
    std::lock_guard lock(m_mutex);
    return m_lastError;
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
