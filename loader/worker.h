// The dialog's worker threads, which carry an upload or the terminal. Each
// gets the owner's stop token; the owner asks them to stop and waits, bounded.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace velmor {

class Workers {
public:
    Workers() = default;
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    void Start(std::function<void(std::stop_token)> work);
    void RequestStop() { m_stop.request_stop(); }
    // True when no worker runs any more; false when the time ran out first.
    bool WaitAll(std::chrono::milliseconds timeout);
    int Running() const;

private:
    std::stop_source m_stop;
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    int m_running = 0;
    struct Thread {
        std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
        std::jthread thread;
    };
    std::list<Thread> m_threads;   // touched by the owner's thread only
};

} // namespace velmor
