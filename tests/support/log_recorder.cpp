#include "tests/support/log_recorder.h"

#include "loader/log/log.h"

#include <algorithm>

namespace velmor::test {

LogRecorder::LogRecorder(platform::MessageAnswer answer)
{
    SetLogView(this);
    m_previousHandler = platform::SetMessageBoxHandler([this, answer](const platform::Message& message) {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(message);
        return message.buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok : answer;
    });
}

LogRecorder::~LogRecorder()
{
    SetLogView(nullptr);
    platform::SetMessageBoxHandler(m_previousHandler);
}

void LogRecorder::AddLogLine(const std::wstring& text)
{
    std::lock_guard lock(m_mutex);
    m_entries.push_back({Entry::Pane, text});
}

void LogRecorder::SetStatusLine(const std::wstring& text)
{
    std::lock_guard lock(m_mutex);
    m_entries.push_back({Entry::Status, text});
}

void LogRecorder::ClearLogPane()
{
    std::lock_guard lock(m_mutex);
    m_entries.push_back({Entry::Clear, L""});
}

void LogRecorder::SetInputControlsEnabled(bool enable)
{
    std::lock_guard lock(m_mutex);
    m_controlsEnabled = enable;
}

bool LogRecorder::ControlsEnabled() const
{
    std::lock_guard lock(m_mutex);
    return m_controlsEnabled;
}

std::vector<LogRecorder::Entry> LogRecorder::Entries() const
{
    std::lock_guard lock(m_mutex);
    return m_entries;
}

std::vector<std::wstring> LogRecorder::PaneLines() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::wstring> lines;
    for (const auto& e : m_entries) {
        if (e.kind == Entry::Clear)
            lines.clear();
        else if (e.kind == Entry::Pane)
            lines.push_back(e.text);
    }
    return lines;
}

std::vector<std::wstring> LogRecorder::StatusLines() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::wstring> lines;
    for (const auto& e : m_entries)
        if (e.kind == Entry::Status)
            lines.push_back(e.text);
    return lines;
}

std::vector<platform::Message> LogRecorder::Messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

bool LogRecorder::HasPaneLine(const std::wstring& text) const
{
    const auto lines = PaneLines();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

bool LogRecorder::HasStatusLine(const std::wstring& text) const
{
    const auto lines = StatusLines();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

void LogRecorder::Reset()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_messages.clear();
}

} // namespace velmor::test
