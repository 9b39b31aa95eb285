#include "loader/log/log.h"

#include "platform/text.h"

#include <cstdarg>
#include <cstdio>

namespace velmor {

std::wstring Printf(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return platform::Widen(text);
}

void EnableControls(Reporter& report, bool enable, bool success)
{
    report.SetInputControlsEnabled(enable);
    if (!enable)
        return;
    report.SetUploadInProgress(false);
    report.LogLine(success ? L"Upload complete" : L"Upload failed");
}

} // namespace velmor
