// Driving velmor's main dialog in tests: steps run inside its modal loop, and
// the log pane's lines.
#pragma once

#include "tests/platform/gui_wait.h"

#include <chrono>
#include <functional>
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

std::vector<std::wstring> Pane(LoaderDialog& dialog);
bool PaneHas(LoaderDialog& dialog, const std::wstring& line);

} // namespace velmor::test
