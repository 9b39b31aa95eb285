#include "loader/log/log.h"

#include "loader/log/log_file.h"
#include "loader/log/log_view.h"

#include "platform/text.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

namespace velmor {
namespace {

// Calls hold a shared lock while they use the view or the file, so unbinding
// waits until no call is inside them any more; then they can be destroyed.
std::shared_mutex g_viewMutex;
LogView* g_view = nullptr;
std::shared_mutex g_fileMutex;
LogFile* g_file = nullptr;
std::atomic<bool> g_uploadInProgress {false};

} // namespace

LogView* SetLogView(LogView* view)
{
    std::unique_lock lock(g_viewMutex);
    std::swap(g_view, view);
    return view;
}

LogFile* SetLogFile(LogFile* file)
{
    std::unique_lock lock(g_fileMutex);
    std::swap(g_file, file);
    return file;
}

void LogLine(const std::wstring& text)
{
    {
        std::shared_lock lock(g_viewMutex);
        if (g_view)
            g_view->AddLogLine(text);
    }
    WriteLogFile(text);
}

void StatusLine(const std::wstring& text)
{
    {
        std::shared_lock lock(g_viewMutex);
        if (g_view)
            g_view->SetStatusLine(text);
    }
    WriteLogFile(text);
}

void WriteLogFile(const std::wstring& text)
{
    std::shared_lock lock(g_fileMutex);
    if (g_file)
        g_file->Write(text);
}

void ClearLogPane()
{
    std::shared_lock lock(g_viewMutex);
    if (g_view)
        g_view->ClearLogPane();
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
    {
        std::shared_lock lock(g_viewMutex);
        if (g_view)
            g_view->SetInputControlsEnabled(enable);
    }
    if (!enable)
        return;
    SetUploadInProgress(false);
    LogLine(success ? L"Upload complete" : L"Upload failed");
}

} // namespace velmor
