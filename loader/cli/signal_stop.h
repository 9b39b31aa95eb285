// Ctrl-C, SIGTERM and SIGHUP as one stop for every job: the signals are
// blocked in every thread and taken by a thread of their own, so each job
// ends its waits, says where it stopped and closes its line. A second signal
// while stopping is only answered with a line. SIGPIPE is ignored: a closed
// pipe on standard output must not end an upload.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

namespace velmor::cli {

class SignalStop {
public:
    // Blocks the signals in the calling thread, and so in every thread it starts later.
    SignalStop();
    ~SignalStop();
    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

    void Start();
    std::stop_token Token() const { return m_stop.get_token(); }
    bool Signalled() const { return m_signalled.load(); }
    // Until `wait` has passed or a signal came.
    void WaitFor(std::chrono::milliseconds wait) const;

private:
    void Run();

    std::stop_source m_stop;
    std::atomic<bool> m_signalled {false};
    std::atomic<bool> m_ending {false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_woken;
    std::thread m_thread;
};

} // namespace velmor::cli
