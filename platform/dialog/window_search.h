// Finding another program's top-level window on the X display by its exact
// title, for example to see whether a program is already running.
#pragma once

#include <string>

namespace platform {

// Looks at the root window's children and, for window managers that put each
// window in a frame, their children too. False when no window has exactly this
// title or there is no X display.
bool FindTopLevelWindow(const std::wstring& title);

} // namespace platform
