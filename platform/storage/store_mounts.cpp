// Mounted filesystems on a store, from sysfs and a mountinfo file. A mounted
// device is followed down its stack (partition to disk, loop device to its
// backing file, device-mapper device to its slaves) until it reaches the store.
#include "platform/storage/store_mounts.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSysfsSector = 512;   // sysfs gives partition start and size in these, whatever the disk's sectors
constexpr int kMaxStackDepth = 16;       // guards against a cycle in a broken tree

struct Range {
    uint64_t begin = 0;
    uint64_t end = kStoreEnd;
};

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string ReadLine(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

uint64_t ReadNumber(const fs::path& path)
{
    return std::strtoull(ReadLine(path).c_str(), nullptr, 10);
}

std::string DeviceNumber(dev_t device)
{
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The part of `outer` that starts `offset` bytes in and is `length` long (0: to its end).
std::optional<Range> Within(const std::optional<Range>& outer, uint64_t offset, uint64_t length)
{
    if (!outer)
        return std::nullopt;
    Range inner {outer->begin + offset, outer->end};
    if (length != 0 && length <= kStoreEnd - inner.begin)
        inner.end = std::min(outer->end, inner.begin + length);
    return inner;
}

// Mount points are written with octal escapes for blanks and backslashes.
std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text.find_first_not_of("01234567", i + 1) >= i + 4) {
            out += char(std::stoi(text.substr(i + 1, 3), nullptr, 8));
            i += 3;
            continue;
        }
        out += text[i];
    }
    return out;
}

class DeviceStack {
public:
    DeviceStack(const StoreIdentity& store, const std::string& sysfs) : m_store(store), m_blocks(sysfs + "/class/block")
    {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_blocks, error))
            m_names[ReadLine(entry.path() / "dev")] = entry.path().filename().string();
    }

    // Where the device "major:minor" lies on the store, if it does.
    std::optional<Range> OnStore(const std::string& device, int depth = 0) const
    {
        const auto it = m_names.find(device);
        if (depth > kMaxStackDepth)
            return std::nullopt;
        if (!m_store.device.empty() && device == m_store.device)
            return Range {};
        return it == m_names.end() ? std::nullopt : ByName(it->second, depth);
    }

private:
    std::optional<Range> ByName(const std::string& name, int depth) const
    {
        std::error_code error;
        const fs::path folder = fs::canonical(m_blocks / name, error);
        if (error)
            return std::nullopt;
        if (fs::exists(folder / "partition")) {
            const std::string disk = ReadLine(folder.parent_path() / "dev");
            return Within(OnStore(disk, depth + 1), ReadNumber(folder / "start") * kSysfsSector,
                          ReadNumber(folder / "size") * kSysfsSector);
        }
        if (fs::exists(folder / "loop/backing_file"))
            return Within(Backing(ReadLine(folder / "loop/backing_file"), depth), ReadNumber(folder / "loop/offset"),
                          ReadNumber(folder / "loop/sizelimit"));
        // A mapped device may take any part of its slaves: count all of them that lie on the store.
        std::optional<Range> hull;
        for (const auto& slave : fs::directory_iterator(folder / "slaves", error)) {
            const auto it = std::find_if(m_names.begin(), m_names.end(), [&](const auto& pair) {
                return pair.second == slave.path().filename().string();
            });
            if (it == m_names.end())
                continue;
            if (const auto range = OnStore(it->first, depth + 1))
                hull = hull ? Range {std::min(hull->begin, range->begin), std::max(hull->end, range->end)} : *range;
        }
        return hull;
    }

    // A loop device's backing file is the image store, or a block device further down.
    std::optional<Range> Backing(const std::string& path, int depth) const
    {
        if (!m_store.image.empty() && RealPath(path) == m_store.image)
            return Range {};
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
            return OnStore(DeviceNumber(st.st_rdev), depth + 1);
        return std::nullopt;
    }

    const StoreIdentity& m_store;
    fs::path m_blocks;
    std::map<std::string, std::string> m_names;   // "major:minor" to kernel name
};

} // namespace

StoreIdentity IdentifyStore(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
        return {DeviceNumber(st.st_rdev), {}};
    return {{}, RealPath(path)};
}

std::vector<StoreMount> MountsOnStore(const StoreIdentity& store, const MountSources& sources)
{
    const DeviceStack stack(store, sources.sysfs);
    std::vector<StoreMount> mounts;
    std::ifstream info(sources.mountInfo);
    // "36 35 98:0 /root /mount/point options [tags] - type source super-options"
    for (std::string line; std::getline(info, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, word, type, source;
        if (!(fields >> id >> parent >> device >> root >> point))
            continue;
        while (fields >> word && word != "-")
            continue;   // options and optional tags
        fields >> type >> source;
        // Filesystems such as btrfs show an anonymous device number: their source names the real one.
        struct stat st {};
        if (device.rfind("0:", 0) == 0 && !source.empty() && source[0] == '/' && stat(source.c_str(), &st) == 0
            && S_ISBLK(st.st_mode))
            device = DeviceNumber(st.st_rdev);
        if (const auto range = stack.OnStore(device))
            mounts.push_back({Unescape(point), range->begin, range->end});
    }
    return mounts;
}

} // namespace platform
