#include "loader/cli/progress_display.h"

#include "platform/text.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velmor::cli {
namespace {

constexpr int kBarWidth = 24;

std::string Clock()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// Columns of the terminal now (it may have been resized), 80 when unknown.
size_t TerminalWidth(FILE* out)
{
    winsize size {};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

std::string ClipToColumns(const std::string& line, size_t columns)
{
    // A line that wraps would push the redraw down the screen: one column is
    // kept free, and a UTF-8 character is never cut in two.
    const size_t keep = columns > 1 ? columns - 1 : 0;
    size_t shown = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80)
            continue;   // a continuation byte adds no column
        if (shown == keep)
            return line.substr(0, i);
        ++shown;
    }
    return line;
}

ProgressDisplay::ProgressDisplay(FILE* out, bool live, std::vector<const PortReporter*> ports)
    : m_out(out), m_live(live)
{
    for (const PortReporter* port : ports)
        Add(port);
}

void ProgressDisplay::Add(const PortReporter* port)
{
    m_ports.push_back({port, {}});
    m_summaryDue = true;
}

void ProgressDisplay::Retire(const PortReporter* port)
{
    const auto shown = std::find_if(m_ports.begin(), m_ports.end(), [port](const Shown& s) { return s.port == port; });
    if (shown == m_ports.end())
        return;
    if (m_live)
        m_retired.push_back(LiveLine(*port, port->Take()));
    else
        PrintChanges(*port, port->Take(), shown->printed);
    m_ports.erase(shown);
    m_summaryDue = true;
}


std::string ProgressDisplay::LiveLine(const PortReporter& port, const PortReporter::Snapshot& s) const
{
    char line[256];
    if (s.finished) {
        std::snprintf(line, sizeof line, "%-16s %s", port.Port().c_str(), s.outcome.c_str());
        return line;
    }
    if (s.total == 0) {
        const std::string text = platform::Narrow(s.lastLine).substr(0, 48);
        std::snprintf(line, sizeof line, "%-16s %-8s %s", port.Port().c_str(), PhaseName(s.phase), text.c_str());
        return line;
    }
    const double fraction = double(s.done) / double(s.total);
    const int filled = int(fraction * kBarWidth);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - s.phaseStart).count();
    const double rate = seconds > 0 ? double(s.done) / seconds : 0;
    const double left = rate > 0 ? double(s.total - s.done) / rate : 0;
    // The read-back counts words, the other phases bytes.
    const bool words = s.phase == Phase::Verify;
    std::snprintf(line, sizeof line, "%-16s %-8s [%s%s] %3d%%  %6.1f %s  %2d:%02d left", port.Port().c_str(),
                  PhaseName(s.phase), std::string(size_t(filled), '#').c_str(),
                  std::string(size_t(kBarWidth - filled), '-').c_str(), int(fraction * 100),
                  words ? rate : rate / 1024, words ? "words/s" : "KiB/s  ", int(left) / 60, int(left) % 60);
    return line;
}

void ProgressDisplay::PrintChanges(const PortReporter& port, const PortReporter::Snapshot& s, Printed& printed)
{
    if (printed.finished)
        return;
    if (s.finished) {
        std::fprintf(m_out, "%s %s %s\n", Clock().c_str(), port.Port().c_str(), s.outcome.c_str());
        printed.finished = true;
        return;
    }
    const int tenth = s.total > 0 ? int(s.done * 10 / s.total) : -1;
    if (printed.started && s.phase == printed.phase && tenth == printed.tenth)
        return;
    if (s.total > 0)
        std::fprintf(m_out, "%s %s %s %d%%\n", Clock().c_str(), port.Port().c_str(), PhaseName(s.phase), tenth * 10);
    else
        std::fprintf(m_out, "%s %s %s\n", Clock().c_str(), port.Port().c_str(), PhaseName(s.phase));
    printed = {s.phase, tenth, true, false};
}

void ProgressDisplay::Tick()
{
    if (!m_live) {
        for (Shown& shown : m_ports)
            PrintChanges(*shown.port, shown.port->Take(), shown.printed);
        if (m_summaryDue && !m_summary.empty()) {
            std::fprintf(m_out, "%s %s\n", Clock().c_str(), m_summary.c_str());
            m_summaryPrinted = true;
        }
        m_summaryDue = false;
        std::fflush(m_out);
        return;
    }
    // Back to the first line, then each line cleared and drawn again: the
    // retired ports' last lines first, where they stay, and what is left of
    // the old lines cleared.
    if (m_drawnLines)
        std::fprintf(m_out, "\033[%zuA", m_drawnLines);
    const size_t width = TerminalWidth(m_out);
    for (const std::string& line : m_retired)
        std::fprintf(m_out, "\r\033[K%s\n", ClipToColumns(line, width).c_str());
    m_retired.clear();
    for (const Shown& shown : m_ports)
        std::fprintf(m_out, "\r\033[K%s\n", ClipToColumns(LiveLine(*shown.port, shown.port->Take()), width).c_str());
    m_drawnLines = m_ports.size();
    if (!m_summary.empty()) {
        std::fprintf(m_out, "\r\033[K%s\n", ClipToColumns(m_summary, width).c_str());
        ++m_drawnLines;
    }
    std::fprintf(m_out, "\033[J");
    std::fflush(m_out);
}

void ProgressDisplay::Close()
{
    m_summaryDue = m_summaryDue || !m_summaryPrinted;
    Tick();
}

} // namespace velmor::cli
