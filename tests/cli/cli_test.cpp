// velmor-cli as a script runs it, against simulated boards: exit codes, the
// JSON result, the logs, progress on a terminal and on a pipe, Ctrl-C.
#include "receiver/sample_image.h"
#include "tests/support/board_fixture.h"
#include "tests/support/image_files.h"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <functional>
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
    int status = -1;
    std::string out, err;
    std::vector<json> results;   // standard output read as JSON lines
};

std::string ReadText(const std::string& path)
{
    const auto bytes = test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

class Cli : public ::testing::Test {
protected:
    // Runs velmor-cli with `args` in the device folder, where it keeps its logs,
    // standard output on a pseudo-terminal when `terminal`, else a pipe;
    // `meanwhile` runs once the program has started.
    CliRun RunCli(const std::vector<std::string>& args, bool terminal = false,
                  const std::function<void(pid_t)>& meanwhile = {})
    {
        int out[2];
        if (terminal ? openpty(&out[0], &out[1], nullptr, nullptr, nullptr) != 0 : pipe(out) != 0)
            return {};
        // Built before the fork: the boards' threads may hold the allocator's lock,
        // so the child only redirects and executes.
        std::vector<char*> argv {const_cast<char*>(VELMOR_CLI_PROGRAM)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        // A flash that hangs ends in seconds with its own "out of time", not at ctest's limit.
        std::string deadline[] = {"--timeout", "60"};
        if (!args.empty() && args[0] == "flash")
            argv.insert(argv.end(), {deadline[0].data(), deadline[1].data()});
        argv.push_back(nullptr);
        const std::string errPath = m_folder.File("stderr");
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            if (chdir(m_folder.Path().c_str()) != 0)
                _exit(126);
            execv(VELMOR_CLI_PROGRAM, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err);
        if (meanwhile)
            meanwhile(pid);
        // Until the program closes its end.
        CliRun run;
        char buffer[4096];
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
            run.out.append(buffer, size_t(n));
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.err = ReadText(errPath);
        size_t start = 0;
        for (size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1)
            if (run.out[start] == '{' || run.out[start] == '[')
                run.results.push_back(json::parse(run.out.substr(start, end - start), nullptr, false));
        return run;
    }
    receiver::SimulatedBoard& Board(size_t n, const receiver::BoardOptions& options = {})
    {
        while (m_boards.size() <= n)
            m_boards.push_back(std::make_unique<test::BoardFixture>(m_folder));
        return m_boards[n]->Start(options, m_oldFlash, "gps" + std::to_string(n + 1));
    }
    std::string Port(size_t n) const { return m_folder.File("gps" + std::to_string(n + 1)); }
    // The log velmor-cli keeps for board n's port, named by its path.
    std::string Log(size_t n) const
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path()))
            if (entry.path().filename().string().ends_with("-gps" + std::to_string(n + 1) + ".log"))
                return ReadText(entry.path().string());
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

// Four boards at once, one that keeps rejecting a record and one with a flash
// cell that does not take its value, which the read-back finds: the others are
// updated, the exit status is the worst and the JSON tells each port's outcome.
TEST_F(Cli, FourBoardsOneFails)
{
    receiver::SimulatedBoard* boards[4];
    for (size_t i = 0; i < 4; ++i)
        boards[i] = &Board(i);
    boards[1]->SetFault(receiver::BoardFault::BadCell, true);
    for (int i = 0; i < 6; ++i)
        boards[2]->ArmFault(OneShotFault::RejectRecord(Transfer::Flash, 3, 0x81));
    const std::string image = Image(NewFirmware());
    const CliRun run =
        RunCli({"flash", image, "--port", Port(0), "--port", Port(1), "--port", Port(2), "--port", Port(3), "--json"});
    EXPECT_EQ(run.status, 6) << run.err;
    ASSERT_EQ(run.results.size(), 4u) << run.out;
    const int codes[] = {0, 6, 5, 0};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(run.results[i]["port"], Port(i));
        EXPECT_EQ(run.results[i]["exit_code"], codes[i]) << run.results[i].dump();
        EXPECT_EQ(run.results[i]["attempts"], i == 2 ? 5 : 1);
    }
    EXPECT_GT(run.results[0]["words_compared"].get<int>(), 0);
    EXPECT_NE(run.results[1]["result"].get<std::string>().find("read-back differs at 0x10000000"), std::string::npos);
    // Each port's log has the dialog's lines, time-stamped.
    const std::string log = Log(2);
    EXPECT_NE(log.find(" Upload stopped after 5 failed attempts: ERROR: BAD_CSUM\n"), std::string::npos) << log;
    EXPECT_NE(Log(0).find(" FLASH upload complete.\n"), std::string::npos);
}

// An S-record image sends its FW checksum word too, into the cell that fails:
// the receiver, asked again after the upload, reports another checksum.
TEST_F(Cli, VerifyCatchesAFlashThatDiffers)
{
    Board(0).SetFault(receiver::BoardFault::BadCell, true);
    const std::string srec = m_folder.File("image.s37");
    test::WriteFile(srec, receiver::MakeSampleSRecords(NewFirmware()));
    const CliRun run = RunCli({"flash", srec, "--port", Port(0), "--json"});
    EXPECT_EQ(run.status, 6) << run.err;
    ASSERT_EQ(run.results.size(), 1u) << run.out;
    EXPECT_NE(run.results[0]["result"].get<std::string>().find("FW checksum"), std::string::npos) << run.out;
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
        {"one network port twice", {"flash", image, "--port", "rfc2217://Bench:4001", "--port", "rfc2217://bench:04001"},
         2, "name the same device"},
        {"a network port with a path", {"info", "--port", "rfc2217://bench:4001/gps1"}, 2,
         "rfc2217://bench:4001/gps1: the port must be a number from 1 to 65535, with nothing after it"},
        {"no receiver", {"flash", image, "--port", Port(1), "--json"}, 4, "no such device"},
        {"not an image", {"flash", notes, "--port", Port(0), "--json"}, 3, "refused"},
        {"PFLD change unasked", {"flash", pfldImage, "--port", Port(0), "--json"}, 3, "pass --pfld yes"},
        {"PFLD change declined", {"flash", pfldImage, "--port", Port(0), "--pfld", "no", "--json"}, 3, "--pfld no"},
    };
    for (const auto& row : rows) {
        const CliRun run = RunCli(row.args);
        EXPECT_EQ(run.status, row.status) << row.legend << ": " << run.err;
        const std::string said = run.results.empty() ? run.err : run.results[0]["result"].get<std::string>();
        EXPECT_NE(said.find(row.says), std::string::npos) << row.legend << ": " << said;
    }
    EXPECT_TRUE(board.Transcript().Erases().empty());
}

// What a Load would do, told without a receiver. What "info" and "ports" print
// is the engine's connect and the port listing, tested on their own.
TEST_F(Cli, CheckTellsWhatALoadWouldDo)
{
    const CliRun run = RunCli({"check", Image(NewFirmware())});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("A Load would erase 0x10000000 to 0x1000C000 and send 49152 bytes"), std::string::npos)
        << run.out;
}

// Another firmware of the same length is no reason to skip; the one the
// receiver holds is skipped unless forced. Live lines redrawn in place on a
// terminal; plain time-stamped lines on a pipe.
TEST_F(Cli, SameFirmwareIsSkippedUnlessForced)
{
    receiver::SampleImageOptions sameLength;
    sameLength.fwSize = NewFirmware().fwSize;
    const std::string image = Image(NewFirmware());
    const struct {
        receiver::SampleImageOptions holds;
        bool terminal;
        bool force;
        std::string says;
    } rows[] = {
        {sameLength, true, false, "GPS1:            program  ["},
        {NewFirmware(), false, false, " GPS1: the receiver holds this firmware already"},
        {NewFirmware(), false, true, " GPS1: program "},
    };
    for (const auto& row : rows) {
        m_oldFlash = receiver::MakeSampleImage(row.holds);
        Board(0);
        std::vector<std::string> args {"flash", image, "--port", "GPS1:"};
        if (row.force)
            args.push_back("--force");
        const CliRun run = RunCli(args, row.terminal);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.find("\033[") != std::string::npos, row.terminal) << run.out;
        EXPECT_NE(run.out.find(row.says), std::string::npos) << run.out;
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
    const CliRun run = RunCli({"flash", image, "--port", Port(0)}, false, [&](pid_t pid) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (Log(0).find("Erasing FLASH...") == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        kill(pid, SIGINT);
    });
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find(Port(0) + " interrupted during erase: the flash is erased or half-programmed"),
              std::string::npos) << run.err;
}

} // namespace
} // namespace velmor
