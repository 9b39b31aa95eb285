// Before a Qt program starts: --help and --version, which need no window
// system, and is there a display to show it on?
#pragma once

#include <optional>

namespace platform {

// When the command line asks for --help (-h) or --version, prints `help` or
// "<program> <version>" on standard output and gives the exit status.
std::optional<int> AnswerInfoOptions(int argc, char** argv, const char* program, const char* help);

// True when a window system (or a Qt platform chosen in QT_QPA_PLATFORM) is
// there; otherwise says so on standard error, with how to get one, and is false.
bool DisplayAvailable(const char* program);

} // namespace platform
