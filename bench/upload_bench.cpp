// A 256 KiB binary image uploaded to a board that takes every byte's wire
// time: the wall time against the wire's limit, and against the time the
// protocol's own waits imply, and the CPU the loader used meanwhile.
#include "bench/thread_cpu.h"
#include "loader/log/log.h"
#include "loader/log/log_view.h"
#include "loader/operation.h"
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

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kImageSize = 256 * 1024;   // FW end - flash base
constexpr double kBaud = 115200;
constexpr double kBitsPerByte = 10;
constexpr double kRecordBytes = 2048;
// The record exchange's own waits, and the read loop's poll period: a read
// attempt of about 2 ms, then a 100 ms pause when nothing came.
constexpr double kPurgeWait = 0.020;
constexpr double kEraseCommandWait = 0.010;
constexpr double kReadAttempt = 0.002;
constexpr double kPollPeriod = 0.100 + kReadAttempt;
constexpr double kSectorSize = 0x4000;

double WireSeconds(double bytes)
{
    return bytes * kBitsPerByte / kBaud;
}

// When a byte that arrives `arrival` seconds after a read loop starts is read.
double ReadAt(double arrival)
{
    if (arrival <= kReadAttempt)
        return arrival;
    return std::ceil((arrival - kReadAttempt) / kPollPeriod) * kPollPeriod;
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

class StampingView : public velmor::LogView {
public:
    void AddLogLine(const std::wstring&) override {}
    void SetStatusLine(const std::wstring& text) override
    {
        std::lock_guard lock(m_mutex);
        m_first.emplace(text, Clock::now());
    }
    void ClearLogPane() override {}
    void SetInputControlsEnabled(bool) override {}
    Clock::time_point At(const std::wstring& text)
    {
        std::lock_guard lock(m_mutex);
        return m_first.at(text);
    }

private:
    std::mutex m_mutex;
    std::map<std::wstring, Clock::time_point> m_first;
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
    velmor::SetLogView(&view);
    if (!velmor::ConnectGps(L"GPS1:")) {
        std::fprintf(stderr, "no board found\n");
        return 1;
    }
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    const int result = velmor::RunOperation(L"GPS1:", std::wstring(imagePath.begin(), imagePath.end()), false);
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    if (result != 0) {
        std::fprintf(stderr, "upload failed (%d)\n", result);
        return 1;
    }
    const double flashPhase =
        std::chrono::duration<double>(view.At(L"FLASH Programing Complete.") - view.At(L"FLASHProgram Begin")).count();
    velmor::SetLogView(nullptr);

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
    std::printf("  loader CPU over the whole upload                           %8.2f s   (%.2f%% of wall)\n", cpu,
                100 * cpu / total);
    board.Stop();
    std::remove(flash.c_str());
    std::remove(imagePath.c_str());
    rmdir(dir);
    return 0;
}
