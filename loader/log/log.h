// The reporting operations every step of the loader uses: log lines (pane and
// file), status lines (status line and file). Safe to call from any thread.
#pragma once

#include <string>

namespace velmor {

class LogFile;
class LogView;

// Bind or unbind (nullptr) where lines go. Returns the previous binding.
LogView* SetLogView(LogView* view);
LogFile* SetLogFile(LogFile* file);

void LogLine(const std::wstring& text);
void StatusLine(const std::wstring& text);
void WriteLogFile(const std::wstring& text);
void ClearLogPane();

// Widened printf-style text for the lines above; the format is 8-bit.
std::wstring Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Set just before the receiver's flash is erased, cleared when the upload ends:
// closing the program meanwhile asks first.
bool UploadInProgress();
void SetUploadInProgress(bool on);

// Re-enables (or disables) the dialog's input controls around an operation;
// on re-enabling, clears the upload-in-progress flag and logs the outcome.
void EnableControls(bool enable, bool success);

} // namespace velmor
