// Where things live: the program's folder, the installed data folder, the log
// folder, the temp folder, the device folder.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Points device names ("GPS1:") at another folder than /dev, for tests and the demo.
inline constexpr const char* kDeviceDirVariable = "VELMOR_DEVICE_DIR";

// The running program's folder, ending in '/'.
std::string ProgramDirectory();
// The installed data folder as seen from a program folder (<dir>/../share/velmor/
// in the usual layout), ending in '/'. Found from where the program lies, so a
// moved install finds its own.
std::string DataDirectory(const std::string& programDir);
// The folder for a program's log file, ending in '/': `programDir` when the
// file can be written there, else the per-user state folder, $XDG_STATE_HOME/velmor/
// (by default ~/.local/state/velmor/), made when missing. Empty when neither
// can be had.
std::string LogDirectory(const std::string& programDir, const std::string& fileName);
// The per-user settings folder, $XDG_CONFIG_HOME/velmor/ (by default
// ~/.config/velmor/), ending in '/'; empty without a home folder.
std::string ConfigDirectory();
// The system temp folder, ending in '/'.
std::string TempDirectory();
// A new file in the temp folder that no other process can open: unnamed where
// the filesystem allows, else created exclusively and unlinked at once. It is
// gone when closed. nullptr on failure.
FILE* CreatePrivateTempFile();
// $VELMOR_DEVICE_DIR, or /dev; no trailing '/'.
std::string DeviceDirectory();

} // namespace platform
