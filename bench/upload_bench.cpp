// A 256 KiB binary image uploaded to a board that takes every byte's wire
// time: the wall time against the wire's limit, and against the time the
// protocol's own waits imply, and the CPU the loader used meanwhile.
#include "bench/thread_cpu.h"
#include "loader/log/log.h"
#include "loader/upload/update_operation.h"
#include "loader/serial/receiver_query.h"
#include "platform/paths.h"
#include "receiver/sample_image.h"
#include "receiver/simulated_board.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kImageSize = 256 * 1024;   // FW end - flash base
constexpr double kBaud = 115200;
constexpr double kBitsPerByte = 10;
constexpr double kRecordBytes = 2048;
// The record exchange's own waits: the settle time after a purge and the pause
// before the erase command. Reads wait on the line and end when a byte comes.
constexpr double kPurgeWait = 0.020;
constexpr double kEraseCommandWait = 0.010;
constexpr double kSectorSize = 0x4000;

double WireSeconds(double bytes)
{
    return bytes * kBitsPerByte / kBaud;
}

// When a byte that arrives `arrival` seconds after a read starts is read.
double ReadAt(double arrival)
{
    return arrival;
}

// One record exchange of `dataBytes`: purge wait, SYNC and REC_WAIT, the frame
// on the wire, the acknowledgement at the next read attempt.
double RecordSeconds(double dataBytes)
{
    const double payload = 4 + dataBytes + std::fmod(4 + dataBytes, 2);
    const double handshake = 2 * WireSeconds(1);
    const double frame = WireSeconds(payload + 6);
    return kPurgeWait + handshake + ReadAt(frame + WireSeconds(1));
}

class StampingView : public velmor::Reporter {
public:
    void LogLine(const std::wstring& text) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(text);
    }
    // The log, for a run that failed.
    void PrintLog()
    {
        std::lock_guard lock(m_mutex);
        for (const auto& line : m_lines)
            std::fprintf(stderr, "  %ls\n", line.c_str());
    }
    void StatusLine(const std::wstring& text) override
    {
        std::lock_guard lock(m_mutex);
        m_first.emplace(text, Clock::now());
    }
    Clock::time_point At(const std::wstring& text)
    {
        std::lock_guard lock(m_mutex);
        return m_first.at(text);
    }

private:
    std::mutex m_mutex;
    std::map<std::wstring, Clock::time_point> m_first;
    std::vector<std::wstring> m_lines;
};

} // namespace

int main()
{
    char dir[] = "/tmp/velmor-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    setenv(platform::kDeviceDirVariable, dir, 1);
    const std::string flash = std::string(dir) + "/flash.bin";
    const std::string imagePath = std::string(dir) + "/image.bin";
    auto write = [](const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    };
    write(flash, receiver::MakeSampleImage({}));
    receiver::SampleImageOptions newer;
    newer.fwVersion = "V2.31";
    newer.fwSize = kImageSize - 0x4000;
    write(imagePath, receiver::MakeSampleImage(newer));

    receiver::BoardOptions options;
    options.deviceDir = dir;
    options.flashImage = flash;
    options.pace = true;
    receiver::SimulatedBoard board(options);
    board.Start();

    StampingView view;
    velmor::ReceiverInfo receiver;
    if (!velmor::ConnectGps("GPS1:", view, receiver).Ok()) {
        std::fprintf(stderr, "no board found\n");
        return 1;
    }
    velmor::UpdateRequest request;
    request.port = "GPS1:";
    request.receiver = receiver;
    request.image = velmor::ReadImage(imagePath);
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    const velmor::Outcome result = velmor::RunUpdate(request, view).outcome;
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    if (!result.Ok()) {
        std::fprintf(stderr, "upload failed (%s):\n", velmor::FaultName(result.fault));
        view.PrintLog();
        return 1;
    }
    const double flashPhase =
        std::chrono::duration<double>(view.At(L"FLASH Programing Complete.") - view.At(L"FLASHProgram Begin")).count();

    // The flash phase as its waits imply it: erase request, range record, erase
    // (sector codes read at poll instants), data records, end record.
    const double records = kImageSize / kRecordBytes;
    const double eraseTime = options.sectorEraseTime.count() / 1e3 * (kImageSize / kSectorSize);
    const double implied = kEraseCommandWait + ReadAt(2 * WireSeconds(1)) + RecordSeconds(4) + ReadAt(eraseTime)
        + records * RecordSeconds(kRecordBytes) + RecordSeconds(0);
    const double wire = WireSeconds(kImageSize);

    std::printf("256 KiB binary image at 115200 baud, board pacing the wire:\n");
    std::printf("  whole upload (preparation, hand-off, SFLD at 19200, flash) %8.2f s\n", total);
    std::printf("  (a) flash phase, erase request to last record              %8.2f s\n", flashPhase);
    std::printf("  (b) wire limit, image bytes x 10 / 115200                  %8.2f s   a/b = %.3f\n", wire,
                flashPhase / wire);
    std::printf("  (c) implied by the protocol's waits and the wire           %8.2f s   a/c = %.3f\n", implied,
                flashPhase / implied);
    const double settles = (records + 2) * kPurgeWait;
    std::printf("      of which purge settle times, %3.0f records x %2.0f ms        %8.2f s\n", records + 2,
                kPurgeWait * 1e3, settles);
    std::printf("      of which the board's erase, %2.0f sectors                  %8.2f s\n", kImageSize / kSectorSize,
                eraseTime);
    std::printf("      a without both, over b                                           a'/b = %.3f\n",
                (flashPhase - settles - eraseTime) / wire);
    std::printf("  loader CPU over the whole upload                           %8.2f s   (%.2f%% of wall)\n", cpu,
                100 * cpu / total);
    board.Stop();
    std::remove(flash.c_str());
    std::remove(imagePath.c_str());
    rmdir(dir);
    return 0;
}
