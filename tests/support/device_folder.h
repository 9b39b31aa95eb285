// A temp folder that device names resolve into for the length of a test.
#pragma once

#include "platform/paths.h"
#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace velmor::test {

class DeviceFolder : public TempDir {
public:
    DeviceFolder()
    {
        if (const char* outer = std::getenv(platform::kDeviceDirVariable))
            m_outer = outer;
        setenv(platform::kDeviceDirVariable, Path().c_str(), 1);
    }
    // Gives back the enclosing folder: unsetting would leave an outer fixture in /dev.
    ~DeviceFolder()
    {
        if (m_outer)
            setenv(platform::kDeviceDirVariable, m_outer->c_str(), 1);
        else
            unsetenv(platform::kDeviceDirVariable);
    }

private:
    std::optional<std::string> m_outer;
};

} // namespace velmor::test
