// Store images through sfdisk.
#include "tests/formatter/store_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quillon::test {
namespace {

// The command's output with its standard error; `status` as pclose gives it.
std::string Run(const std::string& command, int& status)
{
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    status = pipe ? pclose(pipe) : -1;
    return output;
}

} // namespace

StoreImage::StoreImage() : m_path(m_folder.File("user"))
{
    std::ofstream(m_path, std::ios::binary).close();
    std::filesystem::resize_file(m_path, kStoreBytes);
}

void StoreImage::Sfdisk(const std::string& line) const
{
    int status = 0;
    const std::string output = Run("echo '" + line + "' | sfdisk --quiet " + m_path, status);
    ASSERT_EQ(status, 0) << output;
}

void StoreImage::Filesystem(const std::string& mkfs, uint64_t start, uint64_t sectors)
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

std::string StoreImage::FilesystemAt(uint64_t start) const
{
    int status = 0;
    std::string type = Run("blkid -p -o value -s TYPE -O " + std::to_string(start * 512) + " " + m_path, status);
    while (!type.empty() && type.back() == '\n')
        type.pop_back();
    return type;
}

std::vector<std::string> StoreImage::Partitions() const
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

std::vector<char> StoreImage::Bytes() const
{
    std::ifstream in(m_path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int StoreImage::RebootRequests() const
{
    std::ifstream in(m_folder.File("reboot-requests"));
    return int(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

} // namespace quillon::test
