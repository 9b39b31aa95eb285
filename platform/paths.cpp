#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {

std::string ProgramDirectory()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "./";
    return exe.parent_path().string() + "/";
}

std::string TempDirectory()
{
    std::error_code error;
    std::string dir = std::filesystem::temp_directory_path(error).string();
    if (error || dir.empty())
        dir = "/tmp";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string DeviceDirectory()
{
    const char* dir = std::getenv(kDeviceDirVariable);
    std::string path = (dir && *dir) ? dir : "/dev";
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace platform
