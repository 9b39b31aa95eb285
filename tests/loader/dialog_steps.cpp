#include "tests/loader/dialog_steps.h"

#include "loader/loader_dialog.h"
#include "loader/loader_resources.h"

#include <algorithm>

namespace velmor::test {

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
