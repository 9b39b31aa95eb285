// Driving velmor's main dialog in tests: steps run inside its modal loop, and
// the log pane's lines.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace platform {
class Dialog;
}

namespace velmor {
class LoaderDialog;
}

namespace velmor::test {

// Runs `steps` once the dialog is on screen, inside DoModal, and ends the
// dialog afterwards if the steps left it open; a dialog still open after
// `limit` is ended too. Returns DoModal's result.
int RunDialog(platform::Dialog& dialog, const std::function<void()>& steps,
              std::chrono::milliseconds limit = std::chrono::seconds(150));

std::vector<std::wstring> PaneLines(LoaderDialog& dialog);
bool PaneHas(LoaderDialog& dialog, const std::wstring& line);

} // namespace velmor::test
