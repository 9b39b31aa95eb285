// Records the receiver fuzzer's seeds: whole exchanges with the simulated
// board, one file per image variant, each answer filed under the write it
// followed.
//   receiver_seeds OUTPUT-FOLDER
#include "fuzz/receiver_exchange.h"
#include "platform/serial_port.h"
#include "receiver/sample_image.h"
#include "receiver/simulated_board.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

using namespace velmor;

namespace {

// Passes everything to the port and keeps, for each write, what was read after it.
class RecordingLine : public platform::SerialLine {
public:
    explicit RecordingLine(platform::SerialPort& port) : m_port(port) {}

    int Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait) override
    {
        const int n = m_port.Read(buffer, max, wait);
        if (n > 0 && !m_chunks.empty()) {
            auto& chunk = m_chunks.back();
            if (chunk.bytes.empty()) {
                const auto tens = std::chrono::duration_cast<std::chrono::milliseconds>(Now() - m_written).count() / 10;
                chunk.delayTens = uint8_t(std::min<int64_t>(tens, 255));
            }
            for (int i = 0; i < n && chunk.bytes.size() < 255; ++i)
                chunk.bytes.push_back(buffer[i]);
        }
        return n;
    }
    int Write(const uint8_t* bytes, size_t length) override
    {
        const int n = m_port.Write(bytes, length);
        if (n > 0) {
            m_chunks.push_back({});
            m_written = Now();
        }
        return n;
    }
    bool SetSpeed(uint32_t baud) override { return m_port.SetSpeed(baud); }
    void Purge() override { m_port.Purge(); }
    void Drain() override { m_port.Drain(); }
    bool TakeLineErrors(uint32_t& flags) override { return m_port.TakeLineErrors(flags); }
    void Pause(std::chrono::milliseconds duration) override { m_port.Pause(duration); }
    Clock::time_point Now() const override { return m_port.Now(); }

    const std::vector<fuzz::Chunk>& Chunks() const { return m_chunks; }

private:
    platform::SerialPort& m_port;
    std::vector<fuzz::Chunk> m_chunks;
    Clock::time_point m_written;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: receiver_seeds OUTPUT-FOLDER\n");
        return 2;
    }
    const std::string out = argv[1];
    char dir[] = "/tmp/velmor-seeds-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const char* names[] = {"good", "new-pfld", "bad-checksum"};
    for (int v = 0; v < int(fuzz::Variant::Count); ++v) {
        const std::string flash = std::string(dir) + "/flash.bin";
        const auto image = receiver::MakeSampleImage({});
        std::ofstream(flash, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), long(image.size()));
        receiver::BoardOptions options;
        options.deviceDir = dir;
        options.flashImage = flash;
        receiver::SimulatedBoard board(options);
        board.Start();
        platform::OpenError error;
        auto port = platform::SerialPort::Open(board.DevicePath(), &error);
        if (!port || !port->Configure(4800)) {
            std::fprintf(stderr, "%s\n", error.text.c_str());
            return 1;
        }
        RecordingLine line(*port);
        UploadJob job;
        const auto result = fuzz::RunExchange(line, fuzz::Variant(v), job);
        std::printf("%s: %s, %zu answers\n", names[v], FaultName(result.outcome.fault), line.Chunks().size());
        std::ofstream seed(out + "/" + names[v] + ".bin", std::ios::binary);
        seed.put(char(v));
        for (const auto& chunk : line.Chunks()) {
            seed.put(char(chunk.delayTens));
            seed.put(char(chunk.bytes.size()));
            seed.write(reinterpret_cast<const char*>(chunk.bytes.data()), long(chunk.bytes.size()));
        }
    }
    return 0;
}
