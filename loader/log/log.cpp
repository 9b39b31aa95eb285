#include "loader/log/log.h"

#include "loader/log/log_file.h"
#include "loader/log/log_view.h"

#include <atomic>

namespace velmor {
namespace {

std::atomic<LogView*> g_view {nullptr};
std::atomic<LogFile*> g_file {nullptr};

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

} // namespace velmor
