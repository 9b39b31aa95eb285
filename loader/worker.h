// The worker thread that carries an upload or the terminal, and a count of
// running workers so the program can let them finish before it ends.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace velmor {

class TerminalSession;

struct WorkerParams {
    std::wstring portName;
    std::wstring imagePath;
    int terminal = 0;
    std::shared_ptr<TerminalSession> session;   // the terminal run this worker serves
};

// The thread procedure: RunOperation with the block's members, read at once.
unsigned WorkerEntry(WorkerParams* params);

// Starts a detached worker running WorkerEntry(params).
void StartWorkerThread(WorkerParams* params);
// Waits until no worker runs any more, or the time is up; true when none runs.
bool WaitForWorkers(std::chrono::milliseconds timeout);
int RunningWorkers();

} // namespace velmor
