// Test double for a reporter: records every pane line, status line and
// message, and answers questions as told.
#pragma once

#include "loader/log/log.h"
#include "platform/message_box.h"

#include <mutex>
#include <string>
#include <vector>

namespace velmor::test {

class LogRecorder : public Reporter {
public:
    struct Entry {
        enum Kind { Pane, Status, Clear } kind;
        std::wstring text;
    };

    explicit LogRecorder(platform::MessageAnswer answer = platform::MessageAnswer::No) : m_answer(answer) {}

    void LogLine(const std::wstring& text) override;
    void StatusLine(const std::wstring& text) override;
    void ClearPane() override;
    platform::MessageAnswer Ask(const platform::Message& message) override;
    void SetInputControlsEnabled(bool enable) override;
    void SetUploadInProgress(bool on) override;
    bool UploadInProgress() const;
    void SetAnswer(platform::MessageAnswer answer);

    std::vector<std::wstring> PaneLines() const;     // since the last clear
    std::vector<std::wstring> StatusLines() const;
    std::vector<platform::Message> Messages() const;
    bool HasPaneLine(const std::wstring& text) const;
    bool HasStatusLine(const std::wstring& text) const;
    void Reset();

private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::vector<platform::Message> m_messages;
    bool m_controlsEnabled = true;
    bool m_uploadInProgress = false;
    platform::MessageAnswer m_answer;
};

} // namespace velmor::test
