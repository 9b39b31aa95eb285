// velmor-cli through a real ser2net on 127.0.0.1 in front of simulated boards:
// whole flashes, several boards at once, a server that dies and comes back.
#include "receiver/sample_image.h"
#include "tests/support/board_fixture.h"
#include "tests/support/image_files.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

pid_t Spawn(std::vector<std::string> args, const std::string& out, const std::string& err)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A ser2net of the test's own: one RFC 2217 port on a free loopback port per device.
class Ser2net {
public:
    Ser2net(const test::DeviceFolder& folder, size_t devices) : m_folder(folder)
    {
        std::ofstream yaml(m_folder.File("ser2net.yaml"));
        for (size_t i = 0; i < devices; ++i) {
            m_ports.push_back(FreePort());
            yaml << "connection: &gps" << i + 1 << "\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << m_ports[i]
                 << "\n  connector: serialdev," << m_folder.File("gps" + std::to_string(i + 1))
                 << ",4800n81,local\n  options:\n    kickolduser: true\n    chardelay: false\n";
        }
    }
    ~Ser2net() { Kill(); }
    void Start()
    {
        ASSERT_EQ(access(SER2NET_PROGRAM, X_OK), 0) << "no ser2net: run scripts/install-deps.sh test";
        m_pid = Spawn({SER2NET_PROGRAM, "-n", "-d", "-c", m_folder.File("ser2net.yaml")}, "/dev/null",
                      m_folder.File("ser2net.log"));
        ASSERT_GT(m_pid, 0);
        ASSERT_TRUE(test::WaitUntil([this] { return Listening(); })) << "ser2net does not listen";
    }
    void Kill()
    {
        if (m_pid > 0 && kill(m_pid, SIGKILL) == 0)
            waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    std::string Endpoint(size_t i) const { return "127.0.0.1:" + std::to_string(m_ports[i]); }
    std::string Url(size_t i) const { return "rfc2217://" + Endpoint(i); }

private:
    static uint16_t FreePort()
    {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        bind(s, reinterpret_cast<sockaddr*>(&address), length);
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
        close(s);
        return ntohs(address.sin_port);
    }
    // Every port listens, seen in the kernel's table without connecting: a
    // connection would open the device.
    bool Listening() const
    {
        std::ifstream table("/proc/net/tcp");
        const std::string text((std::istreambuf_iterator<char>(table)), std::istreambuf_iterator<char>());
        for (uint16_t port : m_ports) {
            char entry[32];
            std::snprintf(entry, sizeof entry, "0100007F:%04X 00000000:0000 0A", port);
            if (text.find(entry) == std::string::npos)
                return false;
        }
        return true;
    }

    const test::DeviceFolder& m_folder;
    std::vector<uint16_t> m_ports;
    pid_t m_pid = -1;
};

class ThroughSer2net : public ::testing::Test {
protected:
    struct Run {
        int status = -1;
        std::string err;
        std::vector<nlohmann::json> results;
    };
    // velmor-cli flash on the ports, with --json; `meanwhile` runs while it does.
    Run Flash(const std::string& image, const std::vector<std::string>& ports,
              const std::function<void()>& meanwhile = {})
    {
        std::vector<std::string> args {VELMOR_CLI_PROGRAM, "flash", image, "--json", "--timeout", "60",
                                       "--log-dir", m_folder.Path()};
        for (const auto& port : ports)
            args.insert(args.end(), {"--port", port});
        const pid_t pid = Spawn(args, m_folder.File("out"), m_folder.File("err"));
        if (meanwhile)
            meanwhile();
        Run run;
        waitpid(pid, &run.status, 0);
        run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
        std::ifstream out(m_folder.File("out"));
        for (std::string line; std::getline(out, line);)
            run.results.push_back(nlohmann::json::parse(line, nullptr, false));
        const auto err = test::ReadFile(m_folder.File("err"));
        run.err.assign(err.begin(), err.end());
        return run;
    }
    std::string Image(receiver::SampleImageOptions options = {})
    {
        options.fwVersion = "V2.31";
        options.fwSize = 0x8000;
        m_image = receiver::MakeSampleImage(options);
        test::WriteFile(m_folder.File("image.bin"), m_image);
        return m_folder.File("image.bin");
    }

    test::DeviceFolder m_folder;
    test::Bytes m_image;
};

TEST_F(ThroughSer2net, WholeFlashesOfFourBoardsAtOnce)
{
    receiver::SampleImageOptions erased;
    erased.fwErased = true;   // every erased byte is an IAC on the wire
    for (const auto& options : {erased, receiver::SampleImageOptions {}}) {
        std::vector<std::unique_ptr<test::BoardFixture>> boards;
        for (size_t i = 0; i < 4; ++i)
            boards.emplace_back(std::make_unique<test::BoardFixture>(m_folder))
                ->Start({}, receiver::MakeSampleImage({}), "gps" + std::to_string(i + 1));
        Ser2net server(m_folder, 4);
        server.Start();
        const std::string image = Image(options);
        const Run run = Flash(image, {server.Url(0), server.Url(1), server.Url(2), server.Url(3)});
        EXPECT_EQ(run.status, 0) << run.err;
        ASSERT_EQ(run.results.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(run.results[i]["port"], server.Url(i));
            EXPECT_TRUE(boards[i]->Holds(m_image, m_image.size() - 4)) << i;
        }
    }
}

// The server dies while a record waits for its acknowledgement: the job ends
// at once, naming the server; while it is down the port is refused; back
// without the receiver, it says so; with the receiver (after a power cycle, in
// its resident loader) the flash succeeds.
TEST_F(ThroughSer2net, ServerKilledDuringProgramming)
{
    test::BoardFixture fixture(m_folder);
    receiver::SimulatedBoard* board = &fixture.Start({}, receiver::MakeSampleImage({}));
    board->ArmFault(receiver::OneShotFault::LoseAck(receiver::Transfer::Flash, 5));
    Ser2net server(m_folder, 1);
    server.Start();
    const std::string image = Image();
    Clock::time_point killed;
    Run run = Flash(image, {server.Url(0)}, [&] {
        EXPECT_TRUE(test::WaitUntil([&] { return board->ArmedFaults() == 0; }, 60s));
        server.Kill();
        killed = Clock::now();
    });
    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_LT(Clock::now() - killed, 10s) << "the job waited for the receiver's silence";
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0]["result"], "port_gone");
    EXPECT_NE(run.results[0]["message"].get<std::string>().find(server.Endpoint(0)), std::string::npos) << run.err;

    run = Flash(image, {server.Url(0)});
    EXPECT_EQ(run.status, 4) << run.err;
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0]["message"], server.Endpoint(0) + ": connection refused");

    // Back without the receiver: ser2net's own words say why.
    const test::Bytes flash = board->ReadFlash(0x10000000, receiver::MakeSampleImage({}).size());
    fixture.Stop();
    server.Start();
    run = Flash(image, {server.Url(0)});
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_NE(run.results.at(0)["message"].get<std::string>().find("(the server said: Device open failure"),
              std::string::npos) << run.results[0].dump();

    receiver::BoardOptions pfl;
    pfl.mode = receiver::BoardMode::Pfl;
    fixture.Start(pfl, flash);
    run = Flash(image, {server.Url(0)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fixture.Holds(m_image, m_image.size() - 4));
}

} // namespace
} // namespace velmor
