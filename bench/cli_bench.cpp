// Many receivers at once: N paced simulated boards, each its own process, all
// flashed by one velmor-cli run. Prints the wall time against one board's and
// the loader's CPU.
#include "spawn.h"

#include <chrono>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool Exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1, 4, 16};
    char dir[] = "/tmp/velmor-cli-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string folder = dir;
    const std::string flash = folder + "/old.bin";
    const std::string image = folder + "/image.bin";
    if (std::system((std::string(VELMOR_MKIMAGE) + " -o " + flash + " >/dev/null").c_str()) != 0
        || std::system((std::string(VELMOR_MKIMAGE) + " --fw-version V2.31 --fw-size 0x1C000 -o " + image
                        + " >/dev/null").c_str()) != 0)
        return 1;

    std::printf("%-7s %10s %10s %12s %10s  %s\n", "boards", "wall s", "x one", "loader cpu s", "cpu %", "exit");
    double one = 0;
    int failures = 0;
    for (int n : counts) {
        std::vector<pid_t> boards;
        std::vector<std::string> args {VELMOR_CLI, "flash", image, "--force", "--no-verify", "--log-dir", folder};
        for (int i = 0; i < n; ++i) {
            const std::string name = "gps" + std::to_string(i + 1);
            const std::string copy = folder + "/" + name + ".bin";
            std::system(("cp " + flash + " " + copy).c_str());
            boards.push_back(Spawn({VELMOR_BOARD, "--dir", folder, "--name", name, "--flash", copy, "--pace",
                                    "--no-stream"},
                                   true));
            args.insert(args.end(), {"--port", folder + "/" + name});
        }
        for (int i = 0; i < n; ++i)
            while (!Exists(folder + "/gps" + std::to_string(i + 1)))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));

        const auto start = std::chrono::steady_clock::now();
        const pid_t cli = Spawn(args, true);
        int status = 0;
        rusage usage {};
        wait4(cli, &status, 0, &usage);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        if (one == 0)
            one = wall;   // the first run is the yardstick: one board, by default
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        failures += code != 0;
        std::printf("%-7d %10.2f %10.3f %12.2f %9.2f%%  %d\n", n, wall, one > 0 ? wall / one : 1.0, cpu,
                    100 * cpu / wall, code);
        std::fflush(stdout);
        for (pid_t board : boards) {
            kill(board, SIGTERM);
            waitpid(board, nullptr, 0);
        }
    }
    std::system(("rm -rf " + folder).c_str());
    return failures == 0 ? 0 : 1;
}
