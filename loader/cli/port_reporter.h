// One port's reporter in velmor-cli: every line goes to the port's own log file
// with a time stamp, and the phase and progress are kept for the display.
#pragma once

#include "loader/log/log.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

namespace velmor::cli {

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

    // Appends to `logPath` (never empties it). `pfld` answers the PFLD question:
    // nullopt means nobody may answer, so the question is declined and noted.
    PortReporter(std::string port, const std::string& logPath, std::optional<bool> pfld);
    ~PortReporter() override;
    PortReporter(const PortReporter&) = delete;
    PortReporter& operator=(const PortReporter&) = delete;

    const std::string& Port() const { return m_port; }
    bool LogOpen() const { return m_log != nullptr; }

    void LogLine(const std::wstring& text) override;
    void StatusLine(const std::wstring& text) override;
    void ClearPane() override {}
    platform::MessageAnswer Ask(const platform::Message& message) override;
    void SetInputControlsEnabled(bool) override {}
    void SetUploadInProgress(bool on) override;
    void Progress(Phase phase, uint64_t done, uint64_t total) override;

    // Whether the PFLD question came without an answer allowed.
    bool PfldRefused() const;
    // Whether the flash was being erased or programmed when the run ended.
    bool UploadInProgress() const;
    // The last message box's text (a port that did not open says so there).
    std::wstring LastError() const;
    void Finish(const std::string& outcome);
    Snapshot Take() const;

private:
    void Write(const std::wstring& text);

    const std::string m_port;
    const std::optional<bool> m_pfld;
    mutable std::mutex m_mutex;
    FILE* m_log = nullptr;
    Snapshot m_snapshot;
    bool m_pfldRefused = false;
    bool m_uploadInProgress = false;
    std::wstring m_lastError;
};

const char* PhaseName(Phase phase);

} // namespace velmor::cli
