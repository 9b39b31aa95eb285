// Where log and status lines are shown: the main dialog, or a test's recorder.
#pragma once

#include <string>

namespace velmor {

class LogView {
public:
    virtual ~LogView() = default;
    // Adds the newest line to the log pane and shows it at once.
    virtual void AddLogLine(const std::wstring& text) = 0;
    // Replaces the status line and shows it at once.
    virtual void SetStatusLine(const std::wstring& text) = 0;
    // Empties the log pane and repaints at once.
    virtual void ClearLogPane() = 0;
    // Disables "Load" and sets the other input controls of an operation.
    virtual void SetInputControlsEnabled(bool enable) = 0;
};

} // namespace velmor
