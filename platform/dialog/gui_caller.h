// Running code on the GUI thread from worker threads, and a gate that the GUI
// side shuts before its widgets go away, so a late worker neither touches them
// nor waits forever for a thread that no longer takes calls.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>

class QObject;

namespace platform {

class GuiCaller {
public:
    // Needs the QApplication; may be made on any thread, its calls go to the
    // application's thread. Destroy it on the GUI thread, after every worker
    // that uses it is done with it.
    GuiCaller();
    ~GuiCaller();
    GuiCaller(const GuiCaller&) = delete;
    GuiCaller& operator=(const GuiCaller&) = delete;

    // Runs `work` on the GUI thread and returns when it has run, in the order
    // the calls arrive; on the GUI thread itself it runs at once. False, and
    // `work` not run, once the gate is shut.
    bool Call(const std::function<void()>& work);

    // From now on calls return false without running, including those that
    // wait to be run.
    void Shut();
    bool IsShut() const;
    // GUI thread: handles events until no call is waiting or running, or the
    // time is up. True when none is left.
    bool WaitIdle(std::chrono::milliseconds timeout);
    // Calls from other threads that have not finished on the GUI side.
    size_t InFlight() const;

private:
    mutable std::mutex m_mutex;
    bool m_shut = false;
    size_t m_inFlight = 0;
    QObject* m_target = nullptr;   // lives on the GUI thread; queued calls are delivered to it
};

// Starts a detached thread running `work`.
void StartWorker(std::function<void()> work);

} // namespace platform
