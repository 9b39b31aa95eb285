// Before a Qt program starts: is there a display to show it on?
#pragma once

namespace platform {

// True when a window system (or a Qt platform chosen in QT_QPA_PLATFORM) is
// there; otherwise says so on standard error, with how to get one, and is false.
bool DisplayAvailable(const char* program);

} // namespace platform
