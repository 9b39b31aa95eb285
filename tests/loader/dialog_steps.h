// Driving velmor's main dialog in tests: steps run inside its modal loop, and
// the log pane's lines.
#pragma once

#include "platform/message_box.h"
#include "tests/platform/gui_wait.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace velmor {
class LoaderDialog;
}

namespace velmor::test {

// RunModal with room for whole uploads at line speed.
inline int RunDialog(platform::Dialog& dialog, const std::function<void()>& steps)
{
    return platform::test::RunModal(dialog, steps, std::chrono::seconds(150));
}

// Answers the dialog's message boxes in place of real ones, and keeps them.
class BoxAnswers {
public:
    explicit BoxAnswers(platform::MessageAnswer answer = platform::MessageAnswer::No);
    ~BoxAnswers();
    BoxAnswers(const BoxAnswers&) = delete;
    BoxAnswers& operator=(const BoxAnswers&) = delete;
    std::vector<platform::Message> Messages() const;

private:
    mutable std::mutex m_mutex;   // workers ask too
    std::vector<platform::Message> m_messages;
    platform::MessageBoxHandler m_previous;
};

std::vector<std::wstring> Pane(LoaderDialog& dialog);
bool PaneHas(LoaderDialog& dialog, const std::wstring& line);

} // namespace velmor::test
