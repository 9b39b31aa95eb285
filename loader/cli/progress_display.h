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
    ProgressDisplay(FILE* out, bool live, std::vector<const PortReporter*> ports);

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

    std::string LiveLine(const PortReporter& port, const PortReporter::Snapshot& s) const;
    void PrintChanges(const PortReporter& port, const PortReporter::Snapshot& s, Printed& printed);

    FILE* m_out;
    bool m_live;
    std::vector<const PortReporter*> m_ports;
    std::vector<Printed> m_printed;
    bool m_drawn = false;
};

} // namespace velmor::cli
