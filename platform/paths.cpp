#include "platform/paths.h"

#include "platform/version.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <system_error>

namespace platform {
namespace {

// Whether `fileName` can be written in `dir` by this process (read-only mounts
// count, also for root).
bool CanWriteFileIn(const std::string& dir, const std::string& fileName)
{
    const std::string file = dir + fileName;
    if (faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0)
        return true;
    return errno == ENOENT && faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string HomeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    passwd entry {};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

// $<variable>/velmor/, else ~/<fallback>/velmor/; a relative or empty value
// does not count.
std::string XdgDirectory(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    std::string base = (value && value[0] == '/') ? std::string(value) : std::string();
    if (base.empty()) {
        const std::string home = HomeDirectory();
        if (home.empty())
            return {};
        base = home + "/" + fallback;
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/velmor/";
}

// Each missing folder on the way made private, as the XDG rules ask.
bool MakeFolders(const std::string& dir)
{
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        if (mkdir(dir.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

std::string ProgramDirectory()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "./";
    return exe.parent_path().string() + "/";
}

std::string DataDirectory(const std::string& programDir)
{
    std::string dir = (std::filesystem::path(programDir) / kDataFromProgramDir).lexically_normal().string();
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string LogDirectory(const std::string& programDir, const std::string& fileName)
{
    if (CanWriteFileIn(programDir, fileName))
        return programDir;
    const std::string state = XdgDirectory("XDG_STATE_HOME", ".local/state");
    if (state.empty() || !MakeFolders(state) || !CanWriteFileIn(state, fileName))
        return {};
    return state;
}

std::string ConfigDirectory()
{
    return XdgDirectory("XDG_CONFIG_HOME", ".config");
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
