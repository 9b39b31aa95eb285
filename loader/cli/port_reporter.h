// One port's reporter in velmor-cli: every line goes to the port's own log file
// with a time stamp, and the phase and progress are kept for the display.
#pragma once

#include "loader/log/log.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace velmor::cli {

// "velmor-<name>.log" for a port, different for every two ports that are not
// names of one device in the device folder: letters, digits, '.', '-' and '_'
// stay, '/' becomes '+', anything else is %XX. "GPS1:" and "gps1" are the
// device folder's gps1, so they share velmor-gps1.log.
std::string LogName(const std::string& port);

// Appends to a regular file only, made when missing: in a shared folder a
// link planted under the name must not make velmor-cli append to whatever
// file it points at. nullptr with `why` when it cannot.
FILE* OpenForAppend(const std::string& path, std::string& why);

class PortReporter : public Reporter {
public:
    struct Snapshot {
        Phase phase = Phase::Connect;
        uint64_t done = 0;
        uint64_t total = 0;
        std::chrono::steady_clock::time_point phaseStart;
        std::wstring lastLine;
        bool finished = false;
        std::string outcome;   // the result line once finished
    };

    // Appends to the log at `logPath`, which must be a regular file or new:
    // a link planted under its name is not followed. Without a log (see
    // LogError) the port is still served.
    PortReporter(std::string port, const std::string& logPath);
    ~PortReporter() override;
    PortReporter(const PortReporter&) = delete;
    PortReporter& operator=(const PortReporter&) = delete;

    const std::string& Port() const { return m_port; }
    // Why the log could not be opened; empty when it is open.
    const std::string& LogError() const { return m_logError; }

    void LogLine(const std::wstring& text) override;
    void StatusLine(const std::wstring& text) override;
    void Progress(Phase phase, uint64_t done, uint64_t total) override;
    // A line of velmor-cli's own in the port's log.
    void Note(const std::string& text);

    void Finish(const std::string& outcome);
    Snapshot Take() const;

private:
    void Write(const std::wstring& text);

    const std::string m_port;
    mutable std::mutex m_mutex;
    FILE* m_log = nullptr;
    std::string m_logError;
    Snapshot m_snapshot;
};

} // namespace velmor::cli
