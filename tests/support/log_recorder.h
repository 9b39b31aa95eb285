// Test double for a reporter: records every pane line, status line and
// message, and answers questions as told.
#pragma once

#include "loader/log/log.h"
#include "platform/message_box.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace velmor::test {

class LogRecorder : public Reporter {
public:
    explicit LogRecorder(platform::MessageAnswer answer = platform::MessageAnswer::No) : m_answer(answer) {}

    void LogLine(const std::wstring& text) override { Locked([&] { m_pane.push_back(text); }); }
    void StatusLine(const std::wstring& text) override { Locked([&] { m_status.push_back(text); }); }
    void ClearPane() override { Locked([&] { m_pane.clear(); }); }
    platform::MessageAnswer Ask(const platform::Message& message) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(message);
        return message.buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok : m_answer;
    }
    void SetInputControlsEnabled(bool) override {}
    void SetUploadInProgress(bool on) override { Locked([&] { m_uploadInProgress = on; }); }

    void SetAnswer(platform::MessageAnswer answer) { Locked([&] { m_answer = answer; }); }
    bool UploadInProgress() const { return Copy(m_uploadInProgress); }
    std::vector<std::wstring> PaneLines() const { return Copy(m_pane); }   // since the last clear
    std::vector<std::wstring> StatusLines() const { return Copy(m_status); }
    std::vector<platform::Message> Messages() const { return Copy(m_messages); }
    bool HasPaneLine(const std::wstring& text) const { return Has(PaneLines(), text); }
    bool HasStatusLine(const std::wstring& text) const { return Has(StatusLines(), text); }
    void Reset()
    {
        Locked([&] {
            m_pane.clear();
            m_status.clear();
            m_messages.clear();
        });
    }

private:
    template <typename F>
    void Locked(F f)
    {
        std::lock_guard lock(m_mutex);
        f();
    }
    template <typename T>
    T Copy(const T& member) const
    {
        std::lock_guard lock(m_mutex);
        return member;
    }
    static bool Has(const std::vector<std::wstring>& lines, const std::wstring& text)
    {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }

    mutable std::mutex m_mutex;   // workers report too
    std::vector<std::wstring> m_pane;
    std::vector<std::wstring> m_status;
    std::vector<platform::Message> m_messages;
    bool m_uploadInProgress = false;
    platform::MessageAnswer m_answer;
};

} // namespace velmor::test
