#include "loader/worker.h"

#include "loader/operation.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmor {
namespace {

std::mutex g_mutex;
std::condition_variable g_done;
int g_running = 0;

} // namespace

unsigned WorkerEntry(WorkerParams* params)
{
    // Copies first: the dialog may rewrite the block once this operation runs.
    const std::wstring port = params->portName;
    const std::wstring image = params->imagePath;
    const bool terminal = params->terminal != 0;
    const std::shared_ptr<TerminalSession> session = params->session;
    return unsigned(RunOperation(port, image, terminal, session));
}

void StartWorkerThread(WorkerParams* params)
{
    {
        std::lock_guard lock(g_mutex);
        ++g_running;
    }
    // The thread gets its own copy: it never reads the dialog's block after the
    // dialog is gone.
    std::thread([params = *params]() mutable {
        WorkerEntry(&params);
        std::lock_guard lock(g_mutex);
        --g_running;
        g_done.notify_all();
    }).detach();
}

bool WaitForWorkers(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(g_mutex);
    return g_done.wait_for(lock, timeout, [] { return g_running == 0; });
}

int RunningWorkers()
{
    std::lock_guard lock(g_mutex);
    return g_running;
}

} // namespace velmor
