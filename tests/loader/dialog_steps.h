// Driving velmor's main dialog in tests: steps run inside its modal loop,
// message boxes answered in place of real ones, and the log pane's lines.
#pragma once

#include "loader/loader_dialog.h"
#include "loader/loader_resources.h"
#include "platform/message_box.h"
#include "tests/platform/gui_wait.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace velmor::test {

// RunModal with room for whole uploads at line speed.
inline int RunDialog(platform::Dialog& dialog, const std::function<void()>& steps)
{
    return platform::test::RunModal(dialog, steps, std::chrono::seconds(150));
}

// Answers the dialog's message boxes in place of real ones, and keeps them.
class BoxAnswers {
public:
    explicit BoxAnswers(platform::MessageAnswer answer = platform::MessageAnswer::No)
        : m_previous(platform::SetMessageBoxHandler([this, answer](const platform::Message& message) {
              std::lock_guard lock(m_mutex);
              m_messages.push_back(message);
              return message.buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok : answer;
          }))
    {
    }
    ~BoxAnswers() { platform::SetMessageBoxHandler(m_previous); }
    BoxAnswers(const BoxAnswers&) = delete;
    BoxAnswers& operator=(const BoxAnswers&) = delete;

    std::vector<platform::Message> Messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    mutable std::mutex m_mutex;   // workers ask too
    std::vector<platform::Message> m_messages;
    platform::MessageBoxHandler m_previous;
};

inline std::vector<std::wstring> Pane(LoaderDialog& dialog)
{
    std::vector<std::wstring> lines;
    for (int i = 0; i < dialog.ListCount(kIdLogPane); ++i)
        lines.push_back(dialog.ListText(kIdLogPane, i));
    return lines;
}

inline bool PaneHas(LoaderDialog& dialog, const std::wstring& line)
{
    const auto lines = Pane(dialog);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace velmor::test
