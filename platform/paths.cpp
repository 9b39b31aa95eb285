#include "platform/paths.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
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

FILE* CreatePrivateTempFile()
{
    const std::string dir = TempDirectory();
    int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = dir + "velmor-XXXXXX";
        fd = mkostemp(name.data(), O_CLOEXEC);   // O_EXCL and 0600: never an existing file or link
        if (fd < 0)
            return nullptr;
        unlink(name.c_str());
    }
    FILE* file = fdopen(fd, "w+b");
    if (!file)
        close(fd);
    return file;
}

} // namespace platform
