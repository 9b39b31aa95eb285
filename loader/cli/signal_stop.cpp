#include "loader/cli/signal_stop.h"

#include <csignal>
#include <unistd.h>

namespace velmor::cli {
namespace {

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

SignalStop::SignalStop()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

SignalStop::~SignalStop()
{
    m_ending = true;
    // The signal thread sleeps until a signal comes: one sent to it alone ends
    // its wait, and it sees it is ending.
    if (m_thread.joinable()) {
        pthread_kill(m_thread.native_handle(), SIGTERM);
        m_thread.join();
    }
}

void SignalStop::Start()
{
    if (!m_thread.joinable())
        m_thread = std::thread(&SignalStop::Run, this);
}

void SignalStop::Run()
{
    const sigset_t set = StopSignals();
    for (;;) {
        const int signal = sigwaitinfo(&set, nullptr);
        if (m_ending)
            return;
        if (signal <= 0)
            continue;
        if (m_signalled.exchange(true)) {
            static constexpr char kStopping[] = "velmor-cli: stopping: every port is being closed and its state told\n";
            (void)!write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
            continue;
        }
        m_stop.request_stop();
        std::lock_guard lock(m_mutex);
        m_woken.notify_all();
    }
}

void SignalStop::WaitFor(std::chrono::milliseconds wait) const
{
    std::unique_lock lock(m_mutex);
    m_woken.wait_for(lock, wait, [this] { return m_signalled.load(); });
}

} // namespace velmor::cli
