// How fast images are read as upload records, against the wire they feed, and
// how much memory that takes. Each size runs in its own process so that the
// peak resident size of one run says nothing about another.
//
//   image_read_bench [MiB ...]      (default: 4 64)
#include "loader/image/image_source.h"
#include "platform/files.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using velmor::ImageSource;
using velmor::UploadRecord;

namespace {

constexpr double kWireBytesPerSecond = 115200.0 / 10;   // 8N1: ten bit times a byte
constexpr uint32_t kBase = 0x10000000;

uint8_t PatternByte(uint64_t k)
{
    return uint8_t(k * 2654435761u >> 13);
}

// Written in pieces, so the writer's memory does not show in the reader's peak.
void WriteBinary(const std::string& path, uint64_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<uint8_t> chunk(1 << 16);
    for (uint64_t off = 0; off < size; off += chunk.size()) {
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = PatternByte(off + i);
        if (off == 0) {
            const uint32_t words[2] = {0x10004000, uint32_t(kBase + size)};
            for (int w = 0; w < 2; ++w)
                for (int i = 0; i < 4; ++i)
                    chunk[0x4020 + 4 * w + i] = uint8_t(words[w] >> (8 * i));
        }
        std::fwrite(chunk.data(), 1, std::min<uint64_t>(chunk.size(), size - off), f);
    }
    std::fclose(f);
}

void WriteSRecord(const std::string& path, uint64_t size)
{
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("S00600006F2E73E9\n", f);
    for (uint64_t off = 0; off < size; off += 32) {
        const uint32_t address = uint32_t(kBase + off);
        unsigned sum = 37 + (address >> 24) + (address >> 16 & 0xFF) + (address >> 8 & 0xFF) + (address & 0xFF);
        std::fprintf(f, "S325%08X", address);
        for (int i = 0; i < 32; ++i) {
            const uint8_t b = PatternByte(off + i);
            sum += b;
            std::fprintf(f, "%02X", b);
        }
        std::fprintf(f, "%02X\n", ~sum & 0xFF);
    }
    std::fputs("S70510000000EA\n", f);
    std::fclose(f);
}

long FileSize(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const long n = std::ftell(f);
    std::fclose(f);
    return n;
}

// Best of five full reads; returns seconds, or a negative value on a failure.
double TimeRead(const std::string& path, uint64_t expectedBytes)
{
    static ImageSource source;
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        // Read once into memory, as the loader does, then analysed and handed out.
        std::vector<uint8_t> file;
        std::string why;
        if (!platform::ReadRegularFile(path, uint64_t(1) << 32, file, why) || !source.Open(file)
            || !source.Analyse())
            return -1;
        source.Rewind();
        UploadRecord record;
        uint64_t bytes = 0;
        do {
            if (!source.ReadNextBlock(record))
                return -1;
            bytes += record.DataCount();
        } while (record.DataCount() != 0);
        source.Close();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (bytes != expectedBytes)
            return -1;
        best = std::min(best, took.count());
    }
    return best;
}

void RunOne(const char* kind, const std::string& path, uint64_t imageBytes)
{
    const double seconds = TimeRead(path, imageBytes);
    if (seconds < 0) {
        std::printf("%-8s %6.1f MiB image: READ FAILED\n", kind, imageBytes / 1048576.0);
        std::exit(1);
    }
    const double inputMB = FileSize(path) / 1e6;
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-8s %6.1f MiB image: %7.2f MB input in %8.2f ms = %8.1f MB/s input, "
                "%8.0fx the wire; peak RSS %.1f MiB\n",
                kind, imageBytes / 1048576.0, inputMB, seconds * 1e3, inputMB / seconds,
                (imageBytes / seconds) / kWireBytesPerSecond, usage.ru_maxrss / 1024.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<uint64_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::strtoull(argv[i], nullptr, 10) << 20);
    if (sizes.empty())
        sizes = {4ull << 20, 64ull << 20};

    char dir[] = "/tmp/velmor-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string bin = std::string(dir) + "/image.bin";
    const std::string srec = std::string(dir) + "/image.s37";

    int status = 0;
    for (uint64_t size : sizes) {
        for (int kind = 0; kind < 2; ++kind) {
            const pid_t child = fork();
            if (child == 0) {
                if (kind == 0) {
                    WriteBinary(bin, size);
                    RunOne("binary", bin, size);
                } else {
                    WriteSRecord(srec, size);
                    RunOne("s-record", srec, size);
                }
                std::exit(0);
            }
            int childStatus = 0;
            waitpid(child, &childStatus, 0);
            status |= childStatus;
        }
    }
    std::remove(bin.c_str());
    std::remove(srec.c_str());
    rmdir(dir);
    return status == 0 ? 0 : 1;
}
