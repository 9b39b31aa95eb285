// Receivers behind ser2net: the flash phase of one paced board through ser2net
// on loopback against the same board on its own pseudo-terminal, then sixteen
// boards through ser2net at once against one. Each board is its own process.
#include "spawn.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void Stop(pid_t pid)
{
    if (pid > 0 && kill(pid, SIGTERM) == 0)
        waitpid(pid, nullptr, 0);
}

uint16_t FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(s, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    close(s);
    return ntohs(address.sin_port);
}

bool Accepts(uint16_t port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return ok;
}

// Seconds of the day of the first log line that holds `text`, -1 if none.
double StampOf(const std::string& log, const std::string& text)
{
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        int h = 0, m = 0;
        double s = 0;
        if (line.find(text) != std::string::npos && std::sscanf(line.c_str(), "%*d-%*d-%*d %d:%d:%lf", &h, &m, &s) == 3)
            return h * 3600 + m * 60 + s;
    }
    return -1;
}

struct Result {
    double wall = 0;
    std::vector<double> flashPhases;   // per port, erase request to the last record
    int status = -1;
};

class Bench {
public:
    Bench(std::string folder, bool chardelay) : m_folder(std::move(folder)), m_chardelay(chardelay) {}

    // N paced boards, each a copy of the old flash; ser2net in front of them.
    void StartBoards(int count)
    {
        std::ofstream yaml(m_folder + "/ser2net.yaml");
        for (int i = 1; i <= count; ++i) {
            const std::string name = "gps" + std::to_string(i);
            std::system(("cp " + m_folder + "/old.bin " + m_folder + "/" + name + ".bin").c_str());
            m_boards.push_back(Spawn({VELMOR_BOARD, "--dir", m_folder, "--name", name, "--flash",
                                      m_folder + "/" + name + ".bin", "--pace", "--no-stream"}));
            m_ports.push_back(FreePort());
            yaml << "connection: &" << name << "\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << m_ports.back()
                 << "\n  connector: serialdev," << m_folder << "/" << name << ",4800n81,local\n  options:\n"
                 << "    chardelay: " << (m_chardelay ? "true" : "false") << "\n";
        }
        yaml.close();
        m_server = Spawn({SER2NET, "-n", "-d", "-c", m_folder + "/ser2net.yaml"});
        for (int i = 1; i <= count; ++i)
            while (access((m_folder + "/gps" + std::to_string(i)).c_str(), F_OK) != 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // A probe opens the device on the server's side; the board does not mind.
        for (uint16_t port : m_ports)
            while (!Accepts(port))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void StopBoards()
    {
        Stop(m_server);
        for (pid_t board : m_boards)
            Stop(board);
        m_boards.clear();
        m_ports.clear();
    }
    std::string Local(int i) const { return m_folder + "/gps" + std::to_string(i + 1); }
    std::string Network(int i) const { return "rfc2217://127.0.0.1:" + std::to_string(m_ports[size_t(i)]); }

    Result Flash(const std::vector<std::string>& ports)
    {
        const std::string logs = m_folder + "/logs-" + std::to_string(++m_runs);
        std::vector<std::string> args {VELMOR_CLI, "flash", m_folder + "/image.bin", "--force", "--no-verify",
                                       "--log-dir", logs};
        for (const auto& port : ports)
            args.insert(args.end(), {"--port", port});
        Result result;
        const auto start = Clock::now();
        const pid_t cli = Spawn(args);
        waitpid(cli, &result.status, 0);
        result.wall = std::chrono::duration<double>(Clock::now() - start).count();
        result.status = WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
        for (const auto& port : ports) {
            std::string name;   // as velmor-cli names a port's log
            for (char c : port)
                if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')
                    name += c;
                else if (c == '/' && !name.empty())
                    name += '-';
            const std::string log = logs + "/velmor-" + name + ".log";
            result.flashPhases.push_back(StampOf(log, "FLASH Programing Complete.") - StampOf(log, "FLASHProgram Begin"));
        }
        return result;
    }

private:
    std::string m_folder;
    bool m_chardelay;
    std::vector<pid_t> m_boards;
    std::vector<uint16_t> m_ports;
    pid_t m_server = -1;
    int m_runs = 0;
};

double Longest(const Result& r)
{
    double longest = 0;
    for (double phase : r.flashPhases)
        longest = std::max(longest, phase);
    return longest;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

// rfc2217_bench [BOARDS [ROUNDS [chardelay]]]: 16 boards, 3 rounds of the
// local and network runs (medians shown), ser2net's chardelay off.
int main(int argc, char** argv)
{
    const int many = argc > 1 ? std::atoi(argv[1]) : 16;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const bool chardelay = argc > 3 && std::string(argv[3]) == "chardelay";
    char dir[] = "/tmp/velmor-rfc2217-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string folder = dir;
    if (std::system((std::string(VELMOR_MKIMAGE) + " -o " + folder + "/old.bin >/dev/null").c_str()) != 0
        || std::system((std::string(VELMOR_MKIMAGE) + " --fw-version V2.31 --fw-size 0x1C000 -o " + folder
                        + "/image.bin >/dev/null").c_str()) != 0)
        return 1;
    Bench bench(folder, chardelay);
    int failures = 0;

    std::printf("128 KiB image, paced boards, velmor-cli flash --force --no-verify, ser2net chardelay %s\n",
                chardelay ? "on" : "off");
    bench.StartBoards(1);
    std::vector<double> localPhase, networkPhase, localJob, networkJob;
    for (int round = 0; round < rounds; ++round) {
        // Alternating, so that the machine's other load falls on both alike.
        const Result local = bench.Flash({bench.Local(0)});
        const Result network = bench.Flash({bench.Network(0)});
        failures += (local.status != 0) + (network.status != 0);
        localPhase.push_back(Longest(local));
        networkPhase.push_back(Longest(network));
        localJob.push_back(local.wall);
        networkJob.push_back(network.wall);
        std::printf("  round %d: flash phase local %6.2f s, through ser2net %6.2f s   (%.3f)\n", round + 1,
                    localPhase.back(), networkPhase.back(), networkPhase.back() / localPhase.back());
    }
    bench.StopBoards();
    const double one = Median(networkJob);
    std::printf("  one board, its pseudo-terminal:  flash phase %6.2f s   whole job %6.2f s   (medians)\n",
                Median(localPhase), Median(localJob));
    std::printf("  the same board through ser2net:  flash phase %6.2f s   whole job %6.2f s\n",
                Median(networkPhase), one);
    std::printf("  flash phase through ser2net / local                        %6.3f   (goal <= 1.05)\n",
                Median(networkPhase) / Median(localPhase));

    bench.StartBoards(many);
    std::vector<std::string> ports;
    for (int i = 0; i < many; ++i)
        ports.push_back(bench.Network(i));
    const Result all = bench.Flash(ports);
    bench.StopBoards();
    failures += all.status != 0;
    std::printf("  %2d boards through ser2net:       flash phase %6.2f s   whole job %6.2f s   exit %d  (longest port)\n",
                many, Longest(all), all.wall, all.status);
    std::printf("  %2d boards / one, whole job                                 %6.3f   (goal <= 1.15)\n", many,
                all.wall / one);
    if (failures != 0) {
        std::printf("%d runs failed: their logs are in %s\n", failures, folder.c_str());
        return 1;
    }
    std::system(("rm -rf " + folder).c_str());
    return 0;
}
