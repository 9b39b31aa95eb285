// One descriptor, its type checked before the first read, and never more than
// asked: a FIFO or a file that grows underfoot cannot feed more in.
#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes, std::string& why)
{
    bytes.clear();
    why.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "not a regular file";
        close(fd);
        return false;
    }
    if (uint64_t(info.st_size) > maxBytes) {
        why = "larger than " + std::to_string(maxBytes) + " bytes";
        close(fd);
        return false;
    }
    bytes.resize(size_t(info.st_size));
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
