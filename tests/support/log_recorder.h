// Test double for the reporting seam and the message boxes: records every
// pane line, status line and message, and answers questions as told.
#pragma once

#include "loader/log/log_view.h"
#include "platform/message_box.h"

#include <mutex>
#include <string>
#include <vector>

namespace velmor::test {

class LogRecorder : public LogView {
public:
    struct Entry {
        enum Kind { Pane, Status, Clear } kind;
        std::wstring text;
    };

    // Binds itself as the log view and the message-box handler; unbinds on destruction.
    explicit LogRecorder(platform::MessageAnswer answer = platform::MessageAnswer::No);
    ~LogRecorder() override;

    void AddLogLine(const std::wstring& text) override;
    void SetStatusLine(const std::wstring& text) override;
    void ClearLogPane() override;
    void SetInputControlsEnabled(bool enable) override;
    bool ControlsEnabled() const;

    std::vector<Entry> Entries() const;
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
    platform::MessageBoxHandler m_previousHandler;
};

} // namespace velmor::test
