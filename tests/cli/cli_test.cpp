// velmor-cli as a script runs it, against simulated boards: exit codes, the
// JSON result, the logs, progress on a terminal and on a pipe, Ctrl-C.
#include "receiver/sample_image.h"
#include "tests/support/board_fixture.h"
#include "tests/support/image_files.h"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmor {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using receiver::OneShotFault;
using receiver::Transfer;

struct CliRun {
    int status = -1;   // exit code, or -1 when it did not end in time
    std::string out, err;
    std::vector<json> results;   // standard output read as JSON lines
};

// Runs velmor-cli with `args`; standard output on a pseudo-terminal when
// `terminal`, else a pipe. `meanwhile` runs once the program has started.
CliRun RunCli(const std::vector<std::string>& args, bool terminal = false,
           const std::function<void(pid_t)>& meanwhile = {}, std::chrono::seconds limit = 120s)
{
    int out[2], err[2];
    if (terminal) {
        if (openpty(&out[0], &out[1], nullptr, nullptr, nullptr) != 0)
            return {};
    } else if (pipe(out) != 0) {
        return {};
    }
    if (pipe(err) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        std::vector<char*> argv {const_cast<char*>(VELMOR_CLI_PROGRAM)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VELMOR_CLI_PROGRAM, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (meanwhile)
        meanwhile(pid);
    CliRun run;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, size_t(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (open > 0)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = open > 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    for (int i = 0; i < 2; ++i)
        if (fds[i].fd >= 0)
            close(fds[i].fd);
    size_t start = 0;
    for (size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1)
        if (run.out[start] == '{' || run.out[start] == '[')
            run.results.push_back(json::parse(run.out.substr(start, end - start), nullptr, false));
    return run;
}

class Cli : public ::testing::Test {
protected:
    receiver::SimulatedBoard& Board(size_t n, const receiver::BoardOptions& options = {})
    {
        while (m_boards.size() <= n)
            m_boards.push_back(std::make_unique<test::BoardFixture>(m_folder));
        return m_boards[n]->Start(options, m_oldFlash, "gps" + std::to_string(n + 1));
    }
    std::string Port(size_t n) const { return m_folder.File("gps" + std::to_string(n + 1)); }
    // The log velmor-cli keeps for board n's port.
    std::string Log(size_t n) const
    {
        const std::string tail = "gps" + std::to_string(n + 1) + ".log";
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path())) {
            std::string name = entry.path().filename().string();
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
            if (name.rfind("velmor-", 0) == 0 && name.size() >= tail.size()
                && name.compare(name.size() - tail.size(), tail.size(), tail) == 0) {
                const auto bytes = test::ReadFile(entry.path().string());
                return std::string(bytes.begin(), bytes.end());
            }
        }
        return "";
    }
    std::string Image(const receiver::SampleImageOptions& options, const std::string& name = "image.bin")
    {
        const std::string path = m_folder.File(name);
        test::WriteFile(path, receiver::MakeSampleImage(options));
        return path;
    }
    static receiver::SampleImageOptions NewFirmware()
    {
        receiver::SampleImageOptions options;
        options.fwVersion = "V2.31";
        options.fwSize = 0x8000;
        return options;
    }

    test::DeviceFolder m_folder;
    std::vector<std::unique_ptr<test::BoardFixture>> m_boards;
    test::Bytes m_oldFlash = receiver::MakeSampleImage({});
};

// Four boards at once, one that keeps rejecting a record: the others are
// updated, and the exit status and the JSON name the one that failed.
TEST_F(Cli, FourBoardsOneFails)
{
    receiver::SimulatedBoard* boards[4];
    for (size_t i = 0; i < 4; ++i)
        boards[i] = &Board(i);
    for (int i = 0; i < 6; ++i)
        boards[2]->ArmFault(OneShotFault::RejectRecord(Transfer::Flash, 3, 0x81));
    const std::string image = Image(NewFirmware());
    const CliRun run = RunCli({"flash", image, "--port", Port(0), "--port", Port(1), "--port", Port(2), "--port",
                            Port(3), "--json", "--log-dir", m_folder.Path()});
    EXPECT_EQ(run.status, 5) << run.err;
    ASSERT_EQ(run.results.size(), 4u) << run.out;
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(run.results[i]["port"], Port(i));
        EXPECT_EQ(run.results[i]["exit_code"], i == 2 ? 5 : 0) << run.results[i].dump();
        EXPECT_EQ(run.results[i]["attempts"], i == 2 ? 5 : 1);
    }
    EXPECT_GT(run.results[0]["words_compared"].get<int>(), 0);
    // Each port's log has the dialog's lines, time-stamped.
    const std::string log = Log(2);
    EXPECT_NE(log.find(" Upload stopped after 5 failed attempts: ERROR: BAD_CSUM\n"), std::string::npos) << log;
    EXPECT_NE(Log(0).find(" FLASH upload complete.\n"), std::string::npos);
}

// After the upload the receiver is asked again and its flash read back: a cell
// that did not take its value fails the run. The S-record image sends its FW
// checksum word too (into a cell that fails), the binary image does not.
TEST_F(Cli, VerifyCatchesAFlashThatDiffers)
{
    const std::string text = receiver::MakeSampleSRecords(NewFirmware());
    const std::string srec = m_folder.File("image.s37");
    test::WriteFile(srec, text);
    const struct {
        std::string image;
        std::string says;
    } rows[] = {{Image(NewFirmware()), "read-back differs at 0x10000000"}, {srec, "FW checksum"}};
    for (const auto& row : rows) {
        Board(0).SetFault(receiver::BoardFault::BadCell, true);
        const CliRun run = RunCli({"flash", row.image, "--port", Port(0), "--json", "--log-dir", m_folder.Path()});
        EXPECT_EQ(run.status, 6) << run.err;
        ASSERT_EQ(run.results.size(), 1u) << run.out;
        EXPECT_NE(run.results[0]["result"].get<std::string>().find(row.says), std::string::npos) << run.out;
    }
}

TEST_F(Cli, SameFirmwareIsSkippedUnlessForced)
{
    m_oldFlash = receiver::MakeSampleImage(NewFirmware());
    Board(0);
    const std::string image = Image(NewFirmware());
    CliRun run = RunCli({"flash", image, "--port", Port(0), "--json", "--log-dir", m_folder.Path()});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_TRUE(run.results[0]["skipped"].get<bool>());
    EXPECT_EQ(run.results[0]["attempts"], 0);
    run = RunCli({"flash", image, "--port", Port(0), "--force", "--json", "--log-dir", m_folder.Path()});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_FALSE(run.results[0]["skipped"].get<bool>());
    EXPECT_EQ(run.results[0]["attempts"], 1);
}

// Refused before anything is sent: what the user gets for each mistake.
TEST_F(Cli, Refusals)
{
    auto& board = Board(0);
    const std::string image = Image(NewFirmware());
    receiver::SampleImageOptions otherPfld = NewFirmware();
    otherPfld.pfldVersion = "1.08";
    const std::string pfldImage = Image(otherPfld, "pfld.bin");
    const std::string notes = m_folder.File("notes.txt");
    test::WriteFile(notes, std::string("not an image\n"));
    const struct {
        const char* legend;
        std::vector<std::string> args;
        int status;
        std::string says;   // in the JSON result, or on standard error
    } rows[] = {
        {"no port", {"flash", image}, 2, "--port is required"},
        {"no such command", {"erase"}, 2, "subcommand"},
        {"one receiver twice", {"flash", image, "--port", "GPS1:", "--port", Port(0)}, 2, "name the same device"},
        {"no receiver", {"flash", image, "--port", Port(1), "--json"}, 4, "no such device"},
        {"not an image", {"flash", notes, "--port", Port(0), "--json"}, 3, "refused"},
        {"PFLD change unasked", {"flash", pfldImage, "--port", Port(0), "--json"}, 3, "pass --pfld yes"},
        {"PFLD change declined", {"flash", pfldImage, "--port", Port(0), "--pfld", "no", "--json"}, 3, "--pfld no"},
    };
    for (const auto& row : rows) {
        auto args = row.args;
        args.insert(args.end(), {"--log-dir", m_folder.Path()});
        if (row.status == 2)
            args.resize(row.args.size());
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.status, row.status) << row.legend << ": " << run.err;
        const std::string said = run.results.empty() ? run.err : run.results[0]["result"].get<std::string>();
        EXPECT_NE(said.find(row.says), std::string::npos) << row.legend << ": " << said;
    }
    EXPECT_TRUE(board.Transcript().Erases().empty());
}

TEST_F(Cli, InfoCheckAndPorts)
{
    Board(0);
    const std::string image = Image(NewFirmware());
    const struct {
        std::vector<std::string> args;
        std::string says;
    } rows[] = {
        {{"info", "--port", "GPS1:"}, "Main FW ver:0.2 (V2.15)\nGPS connected at 4800\n"},
        {{"check", image}, "A Load would erase 0x10000000 to 0x1000C000 and send 49152 bytes"},
        {{"ports"}, "GPS1:"},
    };
    for (const auto& row : rows) {
        const CliRun run = RunCli(row.args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(row.says), std::string::npos) << run.out;
    }
}

// Live lines redrawn in place on a terminal; plain time-stamped lines on a pipe.
TEST_F(Cli, ProgressOnATerminalAndOnAPipe)
{
    Board(0);
    const std::string image = Image(NewFirmware());
    for (bool terminal : {true, false}) {
        const CliRun run = RunCli({"flash", image, "--port", "GPS1:", "--force", "--log-dir", m_folder.Path()}, terminal);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.find("\033[") != std::string::npos, terminal) << run.out;
        EXPECT_NE(run.out.find(terminal ? "GPS1:            program  [" : " GPS1: program "), std::string::npos)
            << run.out;
    }
}

// Ctrl-C during the erase: every port stops, the user is told in what state,
// and the exit status says so.
TEST_F(Cli, CtrlCStopsEveryPort)
{
    receiver::BoardOptions slow;
    slow.sectorEraseTime = 3s;
    Board(0, slow);
    const std::string image = Image(NewFirmware());
    const auto start = std::chrono::steady_clock::now();
    const CliRun run = RunCli({"flash", image, "--port", "GPS1:", "--log-dir", m_folder.Path()}, false, [&](pid_t pid) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (Log(0).find("Erasing FLASH...") == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        kill(pid, SIGINT);
    });
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find("GPS1: interrupted during erase: the flash is erased or half-programmed"),
              std::string::npos) << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

} // namespace
} // namespace velmor
