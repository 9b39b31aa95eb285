// The production line's watch mode: how soon a board that is plugged in
// hears its first byte from `velmor-cli watch`, with 16 paced boards
// appearing at random times over a minute, and the watch's CPU and wake-ups
// while nothing happens (it must block, not poll).
#include "spawn.h"
#include "receiver/sample_image.h"
#include "receiver/simulated_board.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <random>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void Write(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// CPU seconds and voluntary context switches (wake-ups from a wait) of all
// of a process's threads.
struct Usage {
    double cpu = 0;
    long wakeups = 0;
};

Usage ProcessUsage(pid_t pid)
{
    Usage usage;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return usage;
    while (const dirent* task = readdir(dir)) {
        if (task->d_name[0] == '.')
            continue;
        const std::string base = tasks + "/" + task->d_name;
        unsigned long long nanoseconds = 0;
        if (std::ifstream(base + "/schedstat") >> nanoseconds)
            usage.cpu += double(nanoseconds) / 1e9;
        std::ifstream status(base + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("voluntary_ctxt_switches:"))
                usage.wakeups += std::atol(line.c_str() + line.find(':') + 1);
    }
    closedir(dir);
    return usage;
}

} // namespace

int main(int argc, char** argv)
{
    const int boards = argc > 1 ? std::atoi(argv[1]) : 16;
    const double spread = argc > 2 ? std::atof(argv[2]) : 60;   // seconds over which they appear
    char dir[] = "/tmp/velmor-watch-bench-XXXXXX";
    if (!mkdtemp(dir) || boards < 1)
        return 1;
    const std::string folder = dir;
    const std::string devices = folder + "/dev";
    mkdir(devices.c_str(), 0755);
    receiver::SampleImageOptions newer;
    newer.fwVersion = "V2.31";
    newer.fwSize = 0x8000;
    const std::string image = folder + "/image.bin";
    Write(image, receiver::MakeSampleImage(newer));
    const std::vector<uint8_t> older = receiver::MakeSampleImage({});

    setenv("VELMOR_DEVICE_DIR", devices.c_str(), 1);
    const std::string count = std::to_string(boards);
    const std::string junit = folder + "/line.xml";
    std::vector<std::string> args {VELMOR_CLI, "watch", image, "--count", count, "--no-verify", "--log-dir", folder,
                                   "--report", folder + "/line.jsonl", "--junit", junit, "--timeout", "300"};
    const pid_t cli = Spawn(args);
    if (cli < 0)
        return 1;
    // Watching once the JUnit file is there.
    for (auto until = Clock::now() + 10s; access(junit.c_str(), F_OK) != 0 && Clock::now() < until;)
        std::this_thread::sleep_for(10ms);

    const auto idle = 10s;
    const Usage before = ProcessUsage(cli);
    std::this_thread::sleep_for(idle);
    const Usage after = ProcessUsage(cli);
    const double idleSeconds = std::chrono::duration<double>(idle).count();
    std::printf("idle for %.0f s with nothing plugged in: CPU %.4f %% of a core, %.1f wake-ups per second\n",
                idleSeconds, 100 * (after.cpu - before.cpu) / idleSeconds,
                double(after.wakeups - before.wakeups) / idleSeconds);
    std::fflush(stdout);

    std::mt19937 random(1);
    std::uniform_real_distribution<double> when(0, spread);
    std::vector<double> times(size_t(boards), 0.0);
    for (double& t : times)
        t = when(random);
    std::sort(times.begin(), times.end());

    std::vector<std::unique_ptr<receiver::SimulatedBoard>> started;
    std::vector<double> latencies(size_t(boards), -1);
    std::vector<std::thread> listeners;
    const auto start = Clock::now();
    for (int i = 0; i < boards; ++i) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(times[size_t(i)])));
        receiver::BoardOptions options;
        options.deviceDir = devices;
        options.deviceName = "gps" + std::to_string(i + 1);
        options.flashImage = folder + "/" + options.deviceName + "-flash.bin";
        options.pace = true;
        options.stream = false;
        Write(options.flashImage, older);
        started.push_back(std::make_unique<receiver::SimulatedBoard>(options));
        started.back()->Start();   // its name is in the folder just before it returns
        const auto appeared = Clock::now();
        listeners.emplace_back([&board = *started.back(), &latency = latencies[size_t(i)], appeared] {
            if (board.Transcript().WaitForBytes(1, 120s))
                latency = std::chrono::duration<double, std::milli>(Clock::now() - appeared).count();
        });
    }
    for (auto& listener : listeners)
        listener.join();
    int status = 0;
    waitpid(cli, &status, 0);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<double> heard;
    for (double latency : latencies)
        if (latency >= 0)
            heard.push_back(latency);
    std::sort(heard.begin(), heard.end());
    if (!heard.empty())
        std::printf("%d boards over %.0f s: appearance to first byte median %.1f ms, worst %.1f ms (%zu heard)\n", boards,
                    spread, heard[heard.size() / 2], heard.back(), heard.size());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::printf("all %d flashed in %.1f s from the first appearance, velmor-cli exit status %d\n", boards, wall, code);
    started.clear();
    std::system(("rm -rf " + folder).c_str());
    return code == 0 && heard.size() == size_t(boards) ? 0 : 1;
}
