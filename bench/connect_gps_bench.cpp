// How long "Connect GPS" takes against a board at each scan rate, and against
// a silent one, with the board pacing bytes at the wire's speed; and how much
// CPU the loader's thread uses meanwhile (its waits must be pauses, not spins).
#include "bench/thread_cpu.h"
#include "loader/log/log_file.h"
#include "loader/serial/receiver_query.h"
#include "platform/paths.h"
#include "receiver/sample_image.h"
#include "receiver/simulated_board.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

int main()
{
    char dir[] = "/tmp/velmor-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    setenv(platform::kDeviceDirVariable, dir, 1);
    const std::string flash = std::string(dir) + "/flash.bin";
    {
        const auto image = receiver::MakeSampleImage({});
        std::ofstream(flash, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }

    std::printf("%-10s %10s %10s %8s  %s\n", "board", "wall ms", "cpu ms", "cpu %", "result");
    const unsigned rates[] = {4800, 57600, 19200, 115200, 9600, 0};
    velmor::LogFile report;   // never opened: the lines go nowhere
    int failures = 0;
    for (unsigned rate : rates) {
        receiver::BoardOptions options;
        options.deviceDir = dir;
        options.flashImage = flash;
        options.commandRate = rate ? rate : 4800;
        options.pace = true;
        receiver::SimulatedBoard board(options);
        board.Start();
        if (rate == 0)
            board.SetFault(receiver::BoardFault::Silence, true);

        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = ThreadCpuSeconds();
        velmor::ReceiverInfo info;
        const bool found = velmor::ConnectGps("GPS1:", report, info).Ok();
        const double cpu = ThreadCpuSeconds() - cpuStart;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const bool expected = rate != 0;
        failures += found != expected;
        std::printf("%-10s %10.0f %10.1f %7.2f%%  %s\n", rate ? std::to_string(rate).c_str() : "silent", wall * 1e3,
                    cpu * 1e3, 100.0 * cpu / wall, found ? "connected" : "not found");
        std::fflush(stdout);
    }
    std::remove(flash.c_str());
    rmdir(dir);
    return failures == 0 ? 0 : 1;
}
