// Test double for a reporter: records every pane line, status line, progress
// report and port failure.
#pragma once

#include "loader/log/log.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace velmor::test {

class LogRecorder : public Reporter {
public:
    using Report = std::tuple<Phase, uint64_t, uint64_t>;

    void LogLine(const std::wstring& text) override { Locked([&] { m_pane.push_back(text); }); }
    void StatusLine(const std::wstring& text) override { Locked([&] { m_status.push_back(text); }); }
    void Progress(Phase phase, uint64_t done, uint64_t total) override
    {
        Locked([&] { m_progress.emplace_back(phase, done, total); });
    }
    void PortFailed(const Outcome& outcome) override { Locked([&] { m_portFailures.push_back(outcome.fault); }); }

    std::vector<std::wstring> PaneLines() const { return Copy(m_pane); }
    std::vector<std::wstring> StatusLines() const { return Copy(m_status); }
    std::vector<Report> ProgressReports() const { return Copy(m_progress); }
    std::vector<Fault> PortFailures() const { return Copy(m_portFailures); }
    bool HasPaneLine(const std::wstring& text) const { return Has(PaneLines(), text); }
    bool HasStatusLine(const std::wstring& text) const { return Has(StatusLines(), text); }
    void Reset()
    {
        Locked([&] {
            m_pane.clear();
            m_status.clear();
            m_progress.clear();
            m_portFailures.clear();
        });
    }

private:
    template <typename F>
    void Locked(F f)
    {
        std::lock_guard lock(m_mutex);
        f();
    }
    template <typename T>
    T Copy(const T& member) const
    {
        std::lock_guard lock(m_mutex);
        return member;
    }
    static bool Has(const std::vector<std::wstring>& lines, const std::wstring& text)
    {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }

    mutable std::mutex m_mutex;   // workers report too
    std::vector<std::wstring> m_pane;
    std::vector<std::wstring> m_status;
    std::vector<Report> m_progress;
    std::vector<Fault> m_portFailures;
};

} // namespace velmor::test
