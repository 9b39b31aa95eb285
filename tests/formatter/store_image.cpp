// Store images through sfdisk.
#include "tests/formatter/store_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quillon::test {
namespace {

std::string Run(const std::string& command, int& status)
{
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    status = pclose(pipe);
    return output;
}

} // namespace

StoreImage::StoreImage() : m_path(m_folder.File("user"))
{
    std::ofstream(m_path, std::ios::binary).close();
    std::filesystem::resize_file(m_path, kStoreBytes);
}

void StoreImage::Sfdisk(const std::string& script) const
{
    int status = 0;
    const std::string output = Run("printf '" + script + "' | sfdisk --quiet " + m_path, status);
    ASSERT_EQ(status, 0) << output;
}

void StoreImage::Partition(uint8_t type)
{
    char script[32];
    std::snprintf(script, sizeof script, "type=%x\\n", type);
    Sfdisk(script);
}

void StoreImage::Label(const std::string& label)
{
    Sfdisk("label: " + label + "\\n");
}

void StoreImage::Filesystem(const std::string& mkfs, uint64_t start, uint64_t sectors)
{
    const std::string scratch = m_folder.File("filesystem");
    std::filesystem::remove(scratch);
    std::ofstream(scratch, std::ios::binary).close();
    std::filesystem::resize_file(scratch, sectors * 512);
    int status = 0;
    const std::string output = Run(mkfs + " " + scratch + " && dd status=none conv=notrunc bs=512 seek="
                                       + std::to_string(start) + " if=" + scratch + " of=" + m_path,
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
    for (std::string line; std::getline(dump, line);) {
        const size_t fields = line.find(" : start=");
        unsigned long long start = 0;
        unsigned long long size = 0;
        char type[16] = {};
        if (fields != std::string::npos
            && std::sscanf(line.c_str() + fields, " : start= %llu, size= %llu, type=%15[^, ]", &start, &size, type) == 3)
            partitions.push_back("start=" + std::to_string(start) + ", size=" + std::to_string(size) + ", type=" + type);
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
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

} // namespace quillon::test
