#include "loader/log/log.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace velmor {
namespace {

constexpr size_t kLogNarrowMax = 199;
constexpr size_t kReplyTextMax = 254;
constexpr size_t kReplyTextSkip = 5;   // "$VER,"

} // namespace

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
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

void LogNarrow(Reporter& report, const char* text)
{
    report.LogLine(platform::Widen(std::string_view(text, strnlen(text, kLogNarrowMax))));
}

void ReportSection(Reporter& report, const SectionInfo& section, const char* label)
{
    char line[kLogNarrowMax + 1];
    if (section.length == 0) {
        std::snprintf(line, sizeof line, "%s N/a", label);
        LogNarrow(report, line);
        return;
    }
    std::snprintf(line, sizeof line, "%s len:0x%x", label, section.length);
    LogNarrow(report, line);
    if (section.crc != 0)
        std::snprintf(line, sizeof line, "%s crc:0x%x", label, section.crc);
    else
        std::snprintf(line, sizeof line, "%s crc:N/a", label);
    LogNarrow(report, line);
    if (section.major != 0 || section.minor != 0)
        std::snprintf(line, sizeof line, "%s ver:%d.%d (%s)", label, section.major, section.minor, section.text);
    else
        std::snprintf(line, sizeof line, "%s ver:N/a", label);
    LogNarrow(report, line);
}

void LogReplyText(Reporter& report, const char* line)
{
    size_t length = std::strlen(line);
    if (length <= kReplyTextSkip)
        return;
    for (size_t i = 0; i < length; ++i) {
        if (uint8_t(line[i]) < 0x20 || uint8_t(line[i]) >= 0x80) {
            length = i;
            break;
        }
    }
    // A control byte inside "$VER," leaves nothing to skip past.
    const size_t skip = std::min(length, kReplyTextSkip);
    const std::string_view text(line + skip, std::min(length - skip, kReplyTextMax));
    report.LogLine(platform::Widen(text) + L".");
}

} // namespace velmor
