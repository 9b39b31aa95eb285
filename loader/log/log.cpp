#include "loader/log/log.h"

#include "loader/log/log_file.h"
#include "loader/log/log_view.h"

#include "platform/text.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace velmor {
namespace {

std::atomic<LogView*> g_view {nullptr};
std::atomic<LogFile*> g_file {nullptr};
std::atomic<bool> g_uploadInProgress {false};

} // namespace

LogView* SetLogView(LogView* view)
{
    return g_view.exchange(view);
}

LogFile* SetLogFile(LogFile* file)
{
    return g_file.exchange(file);
}

void LogLine(const std::wstring& text)
{
    if (LogView* view = g_view.load())
        view->AddLogLine(text);
    WriteLogFile(text);
}

void StatusLine(const std::wstring& text)
{
    if (LogView* view = g_view.load())
        view->SetStatusLine(text);
    WriteLogFile(text);
}

void WriteLogFile(const std::wstring& text)
{
    if (LogFile* file = g_file.load())
        file->Write(text);
}

void ClearLogPane()
{
    if (LogView* view = g_view.load())
        view->ClearLogPane();
}

std::wstring Printf(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return platform::Widen(text);
}

bool UploadInProgress()
{
    return g_uploadInProgress.load();
}

void SetUploadInProgress(bool on)
{
    g_uploadInProgress.store(on);
}

void EnableControls(bool enable, bool success)
{
    if (LogView* view = g_view.load())
        view->SetInputControlsEnabled(enable);
    if (!enable)
        return;
    SetUploadInProgress(false);
    LogLine(success ? L"Upload complete" : L"Upload failed");
}

} // namespace velmor
