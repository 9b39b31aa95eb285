// A store image "user" (32 MiB, or sparse and larger) in a device folder of its own, partitioned
// and read back with sfdisk, mkfs and blkid, so the storage layer is never judged by itself.
#pragma once

#include "tests/support/device_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quillon::test {

inline constexpr uint64_t kStoreBytes = 32ull << 20;
inline constexpr uint64_t kStoreSectors = kStoreBytes / 512;
inline constexpr uint64_t kFirstSector = 2048;   // where sfdisk and the storage layer start a partition
// What one partition over the whole store looks like in Partitions().
inline constexpr const char* kWholeStoreType4 = "start=2048,size=63488,type=4";

class StoreImage {
public:
    explicit StoreImage(uint64_t bytes = kStoreBytes) : m_path(m_folder.File("user"))
    {
        std::ofstream(m_path, std::ios::binary).close();
        std::filesystem::resize_file(m_path, bytes);
    }

    const std::string& Path() const { return m_path; }

    // Runs one line of an sfdisk script on the store: "type=6" makes one
    // partition of that type over the whole store, "label: gpt" an empty table.
    void Sfdisk(const std::string& line) const
    {
        int status = 0;
        const std::string output = Run("echo '" + line + "' | sfdisk --quiet " + m_path, status);
        ASSERT_EQ(status, 0) << output;
    }

    // A filesystem made by `mkfs` (a command that takes the file last) over `sectors` from `start`.
    void Filesystem(const std::string& mkfs, uint64_t start = 0, uint64_t sectors = kStoreSectors) const
    {
        const std::string scratch = m_folder.File("filesystem");
        int status = 0;
        const std::string output = Run("rm -f " + scratch + " && truncate -s " + std::to_string(sectors * 512) + " "
                                           + scratch + " && " + mkfs + " " + scratch
                                           + " && dd status=none conv=notrunc bs=512 seek=" + std::to_string(start)
                                           + " if=" + scratch + " of=" + m_path,
                                       status);
        ASSERT_EQ(status, 0) << output;
    }

    // The same pseudo-random bytes over the first `bytes` of the store, every time.
    void Noise(uint64_t bytes) const
    {
        std::string noise(bytes, '\0');
        std::mt19937 random;
        std::generate(noise.begin(), noise.end(), [&] { return char(random()); });
        std::fstream(m_path, std::ios::binary | std::ios::in | std::ios::out).write(noise.data(), std::streamsize(bytes));
    }

    // The filesystem type blkid finds at `start`, or "".
    std::string FilesystemAt(uint64_t start) const
    {
        int status = 0;
        std::string type = Run("blkid -p -o value -s TYPE -O " + std::to_string(start * 512) + " " + m_path, status);
        while (!type.empty() && type.back() == '\n')
            type.pop_back();
        return type;
    }

    // The partition lines of `sfdisk --dump` without blanks, as "start=...,size=...,type=...".
    std::vector<std::string> Partitions() const
    {
        int status = 0;
        std::istringstream dump(Run("sfdisk --dump " + m_path, status));
        std::vector<std::string> partitions;
        // "<path>1 : start=        2048, size=       63488, type=4"
        for (std::string line; std::getline(dump, line);)
            if (const size_t fields = line.find(" : start="); fields != std::string::npos) {
                line.erase(0, fields + 3);
                std::erase(line, ' ');
                partitions.push_back(line);
            }
        return partitions;
    }

    // The first 32 MiB: all of a store of the usual size.
    std::vector<char> Bytes() const
    {
        // Read in one piece: byte by byte, 32 MiB takes seconds under the sanitizers.
        std::vector<char> bytes(std::min<uint64_t>(std::filesystem::file_size(m_path), kStoreBytes));
        std::ifstream(m_path, std::ios::binary).read(bytes.data(), std::streamsize(bytes.size()));
        return bytes;
    }

    // Lines in <folder>/reboot-requests.
    int RebootRequests() const
    {
        std::ifstream in(m_folder.File("reboot-requests"));
        return int(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
    }

private:
    // The command's output with its standard error; `status` as pclose gives it.
    static std::string Run(const std::string& command, int& status)
    {
        std::string output;
        FILE* pipe = popen((command + " 2>&1").c_str(), "r");
        char buffer[512];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        status = pipe ? pclose(pipe) : -1;
        return output;
    }

    velmor::test::DeviceFolder m_folder;
    std::string m_path;
};

} // namespace quillon::test
