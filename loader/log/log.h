// Where one operation's words go: the log pane and the status line of the
// dialog, the log file, a command line's output, a test's recorder. Every
// step of the engine is handed a Reporter; none is bound process-wide.
#pragma once

#include "platform/message_box.h"

#include <cstdint>
#include <string>

namespace velmor {

// The phases of one receiver's update, as a progress display names them.
enum class Phase { Connect, Handoff, Erase, Program, Verify };

class Reporter {
public:
    virtual ~Reporter() = default;

    // A line that stays in the log pane.
    virtual void LogLine(const std::wstring& text) = 0;
    // Replaces the status line: progress and per-record results.
    virtual void StatusLine(const std::wstring& text) = 0;
    virtual void ClearPane() = 0;
    // A message box: blocks until answered; a question is Yes or No.
    virtual platform::MessageAnswer Ask(const platform::Message& message) = 0;
    // Disables "Load" and sets the other input controls of an operation.
    virtual void SetInputControlsEnabled(bool enable) = 0;
    // Set just before the receiver's flash is erased, cleared when the upload
    // ends: closing the program meanwhile asks first.
    virtual void SetUploadInProgress(bool on) = 0;
    // Where the operation is: `done` of `total` bytes of the phase (0 of 0
    // where it has no size). For a progress display; the dialog shows none.
    virtual void Progress(Phase phase, uint64_t done, uint64_t total)
    {
        (void)phase, (void)done, (void)total;
    }
};

// Re-enables (or disables) the input controls around an operation; on
// re-enabling, clears the upload-in-progress flag and logs the outcome.
void EnableControls(Reporter& report, bool enable, bool success);

// Widened printf-style text for the lines above; the format is 8-bit.
std::wstring Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace velmor
