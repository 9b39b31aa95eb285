#include "loader/worker.h"

namespace velmor {

Workers::~Workers()
{
    RequestStop();
    // Finished threads join at once; the owner has waited for the rest.
    m_threads.clear();
}

void Workers::Start(std::function<void(std::stop_token)> work)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_running;
    }
    // Threads that have ended are joined here, so they do not pile up.
    m_threads.remove_if([](const Thread& t) { return t.finished->load(); });
    Thread& entry = m_threads.emplace_back();
    entry.thread = std::jthread([this, work = std::move(work), stop = m_stop.get_token(), finished = entry.finished] {
        work(stop);
        std::lock_guard lock(m_mutex);
        --m_running;
        finished->store(true);
        m_done.notify_all();
    });
}

bool Workers::WaitAll(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_done.wait_for(lock, timeout, [this] { return m_running == 0; });
}

int Workers::Running() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

} // namespace velmor
