// Where things live: the program's folder, the temp folder, the device folder.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Points device names ("GPS1:") at another folder than /dev, for tests and the demo.
inline constexpr const char* kDeviceDirVariable = "VELMOR_DEVICE_DIR";

// The running program's folder, ending in '/'.
std::string ProgramDirectory();
// The system temp folder, ending in '/'.
std::string TempDirectory();
// A new file in the temp folder that no other process can open: unnamed where
// the filesystem allows, else created exclusively and unlinked at once. It is
// gone when closed. nullptr on failure.
FILE* CreatePrivateTempFile();
// $VELMOR_DEVICE_DIR, or /dev; no trailing '/'.
std::string DeviceDirectory();

} // namespace platform
