// One descriptor, its type checked before the first read, and never more than
// asked: a FIFO or a file that grows underfoot cannot feed more in.
#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int OpenRegularFile(const std::string& path, int flags, std::string& why, uint64_t* size)
{
    // O_NONBLOCK: opening a FIFO must not wait for its other end.
    const int fd = open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        why = (flags & O_NOFOLLOW) && errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "not a regular file";
        close(fd);
        return -1;
    }
    if (size)
        *size = uint64_t(info.st_size);
    return fd;
}

bool ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes, std::string& why)
{
    bytes.clear();
    why.clear();
    uint64_t size = 0;
    const int fd = OpenRegularFile(path, O_RDONLY, why, &size);
    if (fd < 0)
        return false;
    if (size > maxBytes) {
        why = "larger than " + std::to_string(maxBytes) + " bytes";
        close(fd);
        return false;
    }
    bytes.resize(size_t(size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = std::strerror(errno);
            close(fd);
            bytes.clear();
            return false;
        }
        if (n == 0)
            break;   // it shrank underfoot: what was there is what is read
        got += size_t(n);
    }
    close(fd);
    bytes.resize(got);
    return true;
}

} // namespace platform
