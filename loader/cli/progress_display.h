// What velmor-cli shows while ports are updated: on a terminal one live line
// per port, redrawn in place; on a pipe or a file plain time-stamped lines.
#pragma once

#include "loader/cli/port_reporter.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace velmor::cli {

// The first columns - 1 columns of a line.
std::string ClipToColumns(const std::string& line, size_t columns);

class ProgressDisplay {
public:
    ProgressDisplay(FILE* out, bool live, std::vector<const PortReporter*> ports = {});

    // Ports that come and go (the watch mode): a port added gets a line; a
    // retired one's last line stays above the live lines, and it is forgotten.
    void Add(const PortReporter* port);
    void Retire(const PortReporter* port);
    // Lines redrawn in place on a terminal, each clipped to its width.
    bool Live() const { return m_live; }
    // A line under the ports' lines on a terminal; on a pipe printed after a
    // port came or went, and at the end.
    void SetSummary(const std::string& line) { m_summary = line; }

    // Called a few times a second: redraws, or prints what changed.
    void Tick();
    // The last state of every port, and the cursor left below the lines.
    void Close();

private:
    struct Printed {
        Phase phase = Phase::Connect;
        int tenth = -1;
        bool started = false;
        bool finished = false;
    };
    struct Shown {
        const PortReporter* port;
        Printed printed;
    };

    std::string LiveLine(const PortReporter& port, const PortReporter::Snapshot& s) const;
    void PrintChanges(const PortReporter& port, const PortReporter::Snapshot& s, Printed& printed);

    FILE* m_out;
    bool m_live;
    std::vector<Shown> m_ports;
    std::vector<std::string> m_retired;   // last lines not yet printed above the live ones
    std::string m_summary;
    bool m_summaryDue = false;
    bool m_summaryPrinted = false;
    size_t m_drawnLines = 0;
};

} // namespace velmor::cli
