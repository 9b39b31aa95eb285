// Where one operation's words go: the log pane and the status line of the
// dialog, the log file, a command line's output, a test's recorder. Every
// step of the engine is handed a Reporter; none is bound process-wide.
#pragma once

#include "loader/log/outcome.h"
#include "loader/serial/receiver_info.h"

#include <cstdint>
#include <string>

namespace velmor {

class Reporter {
public:
    virtual ~Reporter() = default;

    // A line that stays in the log pane.
    virtual void LogLine(const std::wstring& text) = 0;
    // Replaces the status line: progress and per-record results.
    virtual void StatusLine(const std::wstring& text) = 0;
    // Where the operation is: `done` of `total` bytes of the phase (0 of 0
    // where it has no size). The erase phase begins just before the erase is
    // asked for.
    virtual void Progress(Phase phase, uint64_t done, uint64_t total)
    {
        (void)phase, (void)done, (void)total;
    }
    // The port did not open; the reason is already in the log. The dialog
    // shows its message box here, in the order of its lines.
    virtual void PortFailed(const Outcome& outcome) { (void)outcome; }
};

// Takes every line and says nothing: for a step whose words are said elsewhere.
class SilentReporter : public Reporter {
public:
    void LogLine(const std::wstring&) override {}
    void StatusLine(const std::wstring&) override {}
};

// Widened printf-style text for the lines above; the format is 8-bit.
std::wstring Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "0x%08X".
std::string Hex(uint32_t value);

// 8-bit text (at most 199 characters) to the log.
void LogNarrow(Reporter& report, const char* text);
// A section as "Connect GPS" reports it: one line, or three.
void ReportSection(Reporter& report, const SectionInfo& section, const char* label);
// A receiver's "$VER,..." answer to the log, without its first five characters.
void LogReplyText(Reporter& report, const char* line);

} // namespace velmor
