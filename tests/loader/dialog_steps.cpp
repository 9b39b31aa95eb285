#include "tests/loader/dialog_steps.h"

#include "loader/loader_dialog.h"
#include "loader/loader_resources.h"

#include <algorithm>

namespace velmor::test {

BoxAnswers::BoxAnswers(platform::MessageAnswer answer)
{
    m_previous = platform::SetMessageBoxHandler([this, answer](const platform::Message& message) {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(message);
        return message.buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok : answer;
    });
}

BoxAnswers::~BoxAnswers()
{
    platform::SetMessageBoxHandler(m_previous);
}

std::vector<platform::Message> BoxAnswers::Messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<std::wstring> Pane(LoaderDialog& dialog)
{
    std::vector<std::wstring> lines;
    for (int i = 0; i < dialog.ListCount(kIdLogPane); ++i)
        lines.push_back(dialog.ListText(kIdLogPane, i));
    return lines;
}

bool PaneHas(LoaderDialog& dialog, const std::wstring& line)
{
    const auto lines = Pane(dialog);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace velmor::test
