#include "tests/support/log_recorder.h"

#include <algorithm>

namespace velmor::test {

void LogRecorder::LogLine(const std::wstring& text)
{
    std::lock_guard lock(m_mutex);
    m_entries.push_back({Entry::Pane, text});
}

void LogRecorder::StatusLine(const std::wstring& text)
{
    std::lock_guard lock(m_mutex);
    m_entries.push_back({Entry::Status, text});
}

void LogRecorder::ClearPane()
{
    std::lock_guard lock(m_mutex);
    m_entries.push_back({Entry::Clear, L""});
}

platform::MessageAnswer LogRecorder::Ask(const platform::Message& message)
{
    std::lock_guard lock(m_mutex);
    m_messages.push_back(message);
    return message.buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok : m_answer;
}

void LogRecorder::SetInputControlsEnabled(bool enable)
{
    std::lock_guard lock(m_mutex);
    m_controlsEnabled = enable;
}

void LogRecorder::SetUploadInProgress(bool on)
{
    std::lock_guard lock(m_mutex);
    m_uploadInProgress = on;
}

bool LogRecorder::UploadInProgress() const
{
    std::lock_guard lock(m_mutex);
    return m_uploadInProgress;
}

void LogRecorder::SetAnswer(platform::MessageAnswer answer)
{
    std::lock_guard lock(m_mutex);
    m_answer = answer;
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
