// Waiting in widget tests: on a condition with a deadline, handling events
// meanwhile, and running test steps inside a dialog's modal loop.
#pragma once

#include <chrono>
#include <functional>

class QWidget;

namespace platform {
class Dialog;
}

namespace platform::test {

inline constexpr std::chrono::milliseconds kGuiDeadline {5000};
inline constexpr int kTimedOut = -999;   // what RunModal returns when the steps never end the dialog

// True once `condition` holds; false when the deadline passes first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kGuiDeadline);

// The modal widget of the given type that is up, waited for; nullptr if none comes.
QWidget* WaitForModal(const char* className);

// Runs `steps` once the dialog is on screen inside DoModal, and returns
// DoModal's result. A dialog the steps leave open is ended with 0; one still
// open at the deadline with kTimedOut.
int RunModal(Dialog& dialog, const std::function<void()>& steps, std::chrono::milliseconds limit = kGuiDeadline);

// Shows a dialog without its modal loop; true once it is on screen.
bool Shown(Dialog& dialog);

} // namespace platform::test
