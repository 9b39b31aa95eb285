// A temp folder that device names resolve into for the length of a test.
#pragma once

#include "platform/paths.h"
#include "tests/support/temp_dir.h"

#include <cstdlib>

namespace velmor::test {

class DeviceFolder : public TempDir {
public:
    DeviceFolder() { setenv(platform::kDeviceDirVariable, Path().c_str(), 1); }
    ~DeviceFolder() { unsetenv(platform::kDeviceDirVariable); }
};

} // namespace velmor::test
