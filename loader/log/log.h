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

} // namespace velmor
