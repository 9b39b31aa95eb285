#include "loader/cli/signal_stop.h"

#include <cerrno>
#include <csignal>
#include <ctime>
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

constexpr int kWakeUp = 0x57414B45;

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
    // its wait, and it answers what is still pending before it returns.
    if (m_thread.joinable()) {
        pthread_sigqueue(m_thread.native_handle(), SIGTERM, sigval {.sival_int = kWakeUp});
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
    const pid_t self = getpid();
    static constexpr timespec kNoWait {};
    for (;;) {
        siginfo_t info {};
        // A second Ctrl-C can come while the ports are closing and still be
        // pending when the jobs are done: it is answered all the same.
        const bool ending = m_ending;
        const int signal = ending ? sigtimedwait(&set, &info, &kNoWait) : sigwaitinfo(&set, &info);
        if (signal <= 0) {
            if (ending && errno == EAGAIN)
                return;
            continue;
        }
        // The destructor's wake-up (glibc shows a thread-directed kill as SI_USER, so it carries a value).
        if (info.si_code == SI_QUEUE && info.si_pid == self && info.si_value.sival_int == kWakeUp)
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
