// velmor-cli as a script runs it, against simulated boards: exit codes, the
// JSON result, the logs, progress on a terminal and on a pipe, Ctrl-C.
#include "loader/cli/port_reporter.h"
#include "loader/cli/watch.h"
#include "loader/image/sha256.h"
#include "receiver/sample_image.h"
#include "tests/support/board_fixture.h"
#include "tests/support/image_files.h"
#include "tests/support/wait.h"

#include <QXmlStreamReader>
#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <functional>
#include <map>
#include <sstream>
#include <pty.h>
#include <sys/ioctl.h>
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
                  const std::function<void(pid_t)>& meanwhile = {}, bool closeOutput = false)
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
        if (!args.empty() && args[0] == "flash" && std::find(args.begin(), args.end(), "--timeout") == args.end())
            argv.insert(argv.end(), {deadline[0].data(), deadline[1].data()});
        argv.push_back(nullptr);
        const std::string errPath = m_folder.File("stderr");
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            close(out[0]);   // no reader left behind in the child
            if (chdir(m_folder.Path().c_str()) != 0)
                _exit(126);
            execv(VELMOR_CLI_PROGRAM, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err);
        if (closeOutput)
            close(out[0]);   // as "| head" does once it has what it wants
        if (meanwhile)
            meanwhile(pid);
        // Until the program closes its end.
        CliRun run;
        char buffer[4096];
        if (!closeOutput) {
            for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
                run.out.append(buffer, size_t(n));
            close(out[0]);
        }
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
        auto& board = m_boards[n]->Start(options, m_oldFlash, "gps" + std::to_string(n + 1));
        // Serving: it has read the line's settings as nobody has set them yet.
        EXPECT_TRUE(test::WaitUntil([&] { return board.ClientBaud() != 0; }, 5s));
        return board;
    }
    std::string Port(size_t n) const { return m_folder.File("gps" + std::to_string(n + 1)); }
    // The log velmor-cli keeps for board n's port, named by its path.
    std::string Log(size_t n) const
    {
        const std::string path = m_folder.File(cli::LogName(Port(n)));
        return std::filesystem::exists(path) ? ReadText(path) : "";
    }
    // Waits (bounded) until board n's log holds `text`.
    bool LogHas(size_t n, const std::string& text) const
    {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (Log(n).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
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
// updated, the exit status is the worst and the JSON tells each port's outcome
// (its fields are checked in the watch mode's report, which shares them).
TEST_F(Cli, FourBoardsOneFails)
{
    receiver::SimulatedBoard* boards[4];
    for (size_t i = 0; i < 4; ++i)
        boards[i] = &Board(i);
    boards[1]->SetFault(receiver::BoardFault::BadCell, true);
    for (int i = 0; i < 6; ++i)
        boards[2]->ArmFault(OneShotFault::RejectRecord(Transfer::Flash, 3, 0x81));
    const std::string image = Image(NewFirmware());
    const test::Bytes bytes = test::ReadFile(image);
    const CliRun run =
        RunCli({"flash", image, "--port", Port(0), "--port", Port(1), "--port", Port(2), "--port", Port(3), "--json"});
    EXPECT_EQ(run.status, 6) << run.err;
    ASSERT_EQ(run.results.size(), 4u) << run.out;
    const int codes[] = {0, 6, 5, 0};
    const char* kinds[] = {"ok", "verify_mismatch", "too_many_attempts", "ok"};
    const json phases[] = {nullptr, "verify", "program", nullptr};   // where it stopped; none when it did not
    const char* stages[] = {"written", "written", "programming", "written"};
    for (size_t i = 0; i < 4; ++i) {
        const json& r = run.results[i];
        EXPECT_EQ(r["port"], Port(i));
        EXPECT_EQ(r["exit_code"], codes[i]) << r.dump();
        EXPECT_EQ(r["result"], kinds[i]) << r.dump();
        EXPECT_EQ(r["phase"], phases[i]) << r.dump();
        EXPECT_EQ(r["flash"]["stage"], stages[i]) << r.dump();
        EXPECT_EQ(r["attempts"], i == 2 ? 5 : 1);
    }
    EXPECT_NE(run.results[2]["message"].get<std::string>().find("--recover"), std::string::npos);
    // Each port's log has the dialog's lines, time-stamped, and the image's digest.
    EXPECT_NE(Log(2).find(" Upload stopped after 5 failed attempts: ERROR: BAD_CSUM\n"), std::string::npos) << Log(2);
    EXPECT_NE(Log(0).find(" FLASH upload complete.\n"), std::string::npos);
    EXPECT_NE(Log(0).find(ToHex(Sha256(bytes.data(), bytes.size()))), std::string::npos);
}

// A failure on a terminal, whose live line is clipped to the width, is told
// whole on standard error: the flash's state and how to recover.
TEST_F(Cli, FailureOnATerminalIsToldWhole)
{
    auto& board = Board(0);
    for (int i = 0; i < 6; ++i)
        board.ArmFault(OneShotFault::RejectRecord(Transfer::Flash, 3, 0x81));
    const CliRun run = RunCli({"flash", Image(NewFirmware()), "--port", Port(0)}, true);
    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_NE(run.err.find(" and programmed from 0x10000000 up to "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(" --recover"), std::string::npos) << run.err;
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
    EXPECT_EQ(run.results[0]["result"], "verify_mismatch");
    EXPECT_EQ(run.results[0]["first_difference"]["address"], "0x1000C000") << run.out;   // the FW checksum word
}

// Refused before anything is sent: what the user gets for each mistake. An
// image that fails its checks never opens a port.
TEST_F(Cli, Refusals)
{
    auto& board = Board(0);
    const std::string image = Image(NewFirmware());
    receiver::SampleImageOptions otherPfld = NewFirmware();
    otherPfld.pfldVersion = "1.08";
    const std::string pfldImage = Image(otherPfld, "pfld.bin");
    const std::string garbage = m_folder.File("garbage.bin");
    test::WriteFile(garbage, test::PatternBytes(0x9000));
    const std::string empty = m_folder.File("empty.bin");
    test::WriteFile(empty, std::string());
    const struct {
        const char* legend;
        std::vector<std::string> args;
        int status;
        std::string result;   // the JSON's kind, or "" for a usage error
        std::string says;     // in the JSON's message, or on standard error
    } rows[] = {
        {"no port", {"flash", image}, 2, "", "--port is required"},
        {"no such command", {"erase"}, 2, "", "subcommand"},
        {"one receiver twice", {"flash", image, "--port", "GPS1:", "--port", Port(0)}, 2, "", "name the same device"},
        {"one network port twice", {"flash", image, "--port", "rfc2217://Bench:4001", "--port", "rfc2217://bench:04001"},
         2, "", "name the same device"},
        {"a network port with a path", {"info", "--port", "rfc2217://bench:4001/gps1"}, 2, "",
         "rfc2217://bench:4001/gps1: the port must be a number from 1 to 65535, with nothing after it"},
        {"unknown kind of port", {"info", "--port", "ftp://bench:21"}, 2, "", "not a port"},
        {"verify and no verify", {"flash", image, "--port", Port(0), "--verify", "full", "--no-verify"}, 2, "",
         "excludes"},
        {"no deadline", {"flash", image, "--port", Port(0), "--timeout", "nan"}, 2, "", "0 or more"},
        {"no receiver", {"flash", image, "--port", Port(1), "--json"}, 4, "port_not_found", "no such device"},
        {"garbage", {"flash", garbage, "--port", Port(0), "--json"}, 3, "image_refused", "no FW section header"},
        {"empty image", {"flash", empty, "--port", Port(0), "--json"}, 3, "image_refused", "empty"},
        {"PFLD change unasked", {"flash", pfldImage, "--port", Port(0), "--json"}, 3, "pfld_needs_answer",
         "pass --pfld yes"},
        {"PFLD change declined", {"flash", pfldImage, "--port", Port(0), "--pfld", "no", "--json"}, 3,
         "pfld_declined", "--pfld no"},
    };
    const unsigned unopened = board.ClientBaud();
    for (const auto& row : rows) {
        const CliRun run = RunCli(row.args);
        EXPECT_EQ(run.status, row.status) << row.legend << ": " << run.err;
        if (row.result.empty()) {
            EXPECT_NE(run.err.find(row.says), std::string::npos) << row.legend << ": " << run.err;
            continue;
        }
        ASSERT_EQ(run.results.size(), 1u) << row.legend << ": " << run.out;
        EXPECT_EQ(run.results[0]["result"], row.result) << row.legend;
        const std::string said = run.results[0]["message"];
        EXPECT_NE(said.find(row.says), std::string::npos) << row.legend << ": " << said;
        if (row.result == "image_refused") {
            EXPECT_EQ(board.ClientBaud(), unopened) << row.legend << ": the port was opened";
            EXPECT_EQ(board.Transcript().ReceivedCount(), 0u) << row.legend;
        }
    }
    EXPECT_TRUE(board.Transcript().Erases().empty());
}

// File names are bytes: a name in no encoding opens as given under the C
// locale and reaches the JSON escaped; port logs never follow a planted link
// and never share a name between two devices.
TEST_F(Cli, NamesAsGiven)
{
    Board(0);
    const std::string image = m_folder.File("\xE9t\xE9-image.bin");   // Latin-1, not UTF-8
    test::WriteFile(image, receiver::MakeSampleImage(NewFirmware()));
    const std::string victim = m_folder.File("victim");
    test::WriteFile(victim, std::string("keep"));
    std::filesystem::create_symlink(victim, m_folder.File(cli::LogName(Port(0))));
    setenv("LC_ALL", "C", 1);
    const CliRun run = RunCli({"flash", image, "--port", Port(0), "--json", "--no-verify"});
    unsetenv("LC_ALL");
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.results.size(), 1u) << run.out;
    EXPECT_EQ(run.results[0]["image"], m_folder.File("\\xE9t\\xE9-image.bin"));
    EXPECT_EQ(ReadText(victim), "keep");
    EXPECT_NE(run.err.find("symbolic link"), std::string::npos) << run.err;

    const std::pair<std::string, std::string> different[] = {
        {"gps.1", "gps1"}, {"GPS1", "/GPS1"}, {"a/b", "a+b"}, {"a_b", "a/b"}, {"%2F", "/"}, {"x:", "x%3A"}};
    for (const auto& [a, b] : different)
        EXPECT_NE(cli::LogName(a), cli::LogName(b)) << a << " " << b;
    EXPECT_EQ(cli::LogName("GPS1:"), "velmor-gps1.log");   // the device folder's gps1, however it is written
    EXPECT_EQ(cli::LogName("gps1"), "velmor-gps1.log");
}

// What a Load would do, told without a receiver.
TEST_F(Cli, CheckTellsWhatALoadWouldDo)
{
    const CliRun run = RunCli({"check", Image(NewFirmware())});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("A Load would erase 0x10000000 to 0x1000C000 and send 49152 bytes"), std::string::npos)
        << run.out;
}

// Only a receiver shown to hold the image's FW is skipped, unless forced:
// another FW of the same length is not, nor one that a binary upload left with
// the older FW's checksum word (a rollback). Live lines redrawn in place on a
// terminal, plain time-stamped lines on a pipe.
TEST_F(Cli, SameFirmwareIsSkippedUnlessForced)
{
    receiver::SampleImageOptions older = NewFirmware();
    older.fwVersion = "V2.15";
    const test::Bytes olderImage = receiver::MakeSampleImage(older);
    // V2.31 uploaded as a binary over V2.15: the checksum word is still V2.15's.
    test::Bytes staleWord = receiver::MakeSampleImage(NewFirmware());
    std::copy(olderImage.end() - 4, olderImage.end(), staleWord.end() - 4);
    const std::string newer = Image(NewFirmware());
    const std::string rollback = Image(older, "older.bin");
    const struct {
        const char* legend;
        test::Bytes holds;
        std::string image;
        bool terminal;
        bool force;
        std::string says;
    } rows[] = {
        {"same length", olderImage, newer, true, false, "GPS1:            program  ["},
        {"same FW", receiver::MakeSampleImage(NewFirmware()), newer, false, false,
         " GPS1: the receiver holds this firmware already"},
        {"forced", receiver::MakeSampleImage(NewFirmware()), newer, false, true, " GPS1: program "},
        {"rollback", staleWord, rollback, false, false, " GPS1: program "},
    };
    for (const auto& row : rows) {
        m_oldFlash = row.holds;
        Board(0);
        std::vector<std::string> args {"flash", row.image, "--port", "GPS1:"};
        if (row.force)
            args.push_back("--force");
        const CliRun run = RunCli(args, row.terminal);
        EXPECT_EQ(run.status, 0) << row.legend << ": " << run.err;
        EXPECT_EQ(run.out.find("\033[") != std::string::npos, row.terminal) << row.legend;
        EXPECT_NE(run.out.find(row.says), std::string::npos) << row.legend << ": " << run.out;
    }
}

// Ctrl-C, SIGTERM and SIGHUP stop every port: the user is told in what state
// each was left, the JSON still comes, the line is given back as it was found
// (speed, not exclusive), and a second signal while stopping is only answered.
// A closed pipe on standard output does not end an upload. A deadline ends a
// job with its own status.
TEST_F(Cli, StopsAndDeadlines)
{
    receiver::BoardOptions slow;
    slow.sectorEraseTime = 3s;
    const std::string image = Image(NewFirmware());
    struct Row {
        const char* legend;
        std::vector<std::string> args;
        receiver::BoardOptions board;
        int signal;
        std::string waitFor;   // in the port's log, before the signal
        int status;
        std::string result;
        std::string says;      // on standard error
    };
    receiver::BoardOptions silent;
    const Row rows[] = {
        {"SIGHUP, then Ctrl-C, during the erase", {"flash", image, "--port", Port(0), "--json"}, slow, SIGHUP,
         "Erasing FLASH...", 130, "interrupted",
         " interrupted during erase; the receiver's flash may be partly erased from 0x10000000 to 0x1000C000"},
        {"SIGTERM during the erase", {"flash", image, "--port", Port(0), "--json"}, slow, SIGTERM, "Erasing FLASH...",
         130, "interrupted", "do not switch the receiver off"},
        {"Ctrl-C while identifying", {"info", "--port", Port(0), "--json"}, silent, SIGINT, "", 130, "interrupted", ""},
        {"deadline on a silent receiver", {"flash", image, "--port", Port(0), "--json", "--timeout", "0.5"}, silent, 0,
         "", 5, "out_of_time", " out of time during connect"},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(m_folder.File(cli::LogName(Port(0))));   // each row waits for its own lines
        auto& board = Board(0, row.board);
        if (row.board.sectorEraseTime != slow.sectorEraseTime)
            board.SetFault(receiver::BoardFault::Silence, true);
        const unsigned before = board.ClientBaud();
        std::chrono::steady_clock::time_point signalled;
        const auto start = std::chrono::steady_clock::now();
        const CliRun run = RunCli(row.args, false, [&](pid_t pid) {
            if (!row.signal)
                return;
            if (row.waitFor.empty())
                std::this_thread::sleep_for(1s);
            else
                ASSERT_TRUE(LogHas(0, row.waitFor));
            signalled = std::chrono::steady_clock::now();
            kill(pid, row.signal);
            if (row.signal == SIGHUP)
                kill(pid, SIGINT);   // a second stop: two of one kind could merge while pending
        });
        const auto end = std::chrono::steady_clock::now();
        EXPECT_EQ(run.status, row.status) << row.legend << ": " << run.err;
        ASSERT_EQ(run.results.size(), 1u) << row.legend << ": " << run.out;
        EXPECT_EQ(run.results[0]["result"], row.result) << row.legend;
        EXPECT_NE(run.err.find(row.says), std::string::npos) << row.legend << ": " << run.err;
        // Only the second signal is answered with a line.
        EXPECT_EQ(run.err.find("velmor-cli: stopping") != std::string::npos, row.signal == SIGHUP)
            << row.legend << ": " << run.err;
        if (row.args[0] == "info") {
            EXPECT_LT(end - signalled, 500ms) << row.legend;
        }
        if (!row.signal) {
            EXPECT_LT(end - start, 3s) << row.legend;
        }
        EXPECT_EQ(board.ClientBaud(), before) << row.legend << ": the line's speed was not given back";
        const int fd = open(Port(0).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int exclusive = 1;
        EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << row.legend << ": the line was left exclusive";
        close(fd);
    }

    // The reader of standard output goes away: the upload goes on to its end.
    m_oldFlash = receiver::MakeSampleImage({});
    Board(0);
    const CliRun run = RunCli({"flash", image, "--port", Port(0), "--no-verify"}, false, {}, true);
    EXPECT_EQ(run.status, 1) << run.err;   // the results could not be written, but nothing was cut short
    EXPECT_TRUE(m_boards[0]->Holds(receiver::MakeSampleImage(NewFirmware()), 0xC000));
}

// An upload stopped during the erase or the programming leaves the receiver
// in its loader, which "info" finds and "flash --recover" finishes without
// restarting the receiver: the flash then holds the image.
TEST_F(Cli, InterruptedUploadIsRecovered)
{
    receiver::BoardOptions slowErase;
    slowErase.sectorEraseTime = 1s;
    // Programming takes a few seconds as it is: every record waits for its REC_WAIT_CODE.
    const struct {
        const char* legend;
        receiver::BoardOptions board;
        std::string waitFor;
        std::string stage;
    } rows[] = {{"erase", slowErase, "Erasing FLASH...", "erasing"},
                {"programming", {}, "FLASH Programming...", "programming"}};
    const std::string image = Image(NewFirmware());
    for (const auto& row : rows) {
        std::filesystem::remove(m_folder.File(cli::LogName(Port(0))));
        Board(0, row.board);
        const CliRun stopped = RunCli({"flash", image, "--port", Port(0), "--json"}, false, [&](pid_t pid) {
            ASSERT_TRUE(LogHas(0, row.waitFor));
            kill(pid, SIGINT);
        });
        ASSERT_EQ(stopped.results.size(), 1u) << row.legend << ": " << stopped.out;
        EXPECT_EQ(stopped.results[0]["flash"]["stage"], row.stage) << row.legend;

        if (row.stage == "erasing") {
            const CliRun info = RunCli({"info", "--port", Port(0), "--json"});
            EXPECT_EQ(info.status, 4) << row.legend;
            ASSERT_EQ(info.results.size(), 1u) << row.legend;
            EXPECT_TRUE(info.results[0]["loader_answered"]) << row.legend;
        }

        const CliRun recovered =
            RunCli({"flash", image, "--port", Port(0), "--recover", "--pfld", "yes", "--no-verify"});
        EXPECT_EQ(recovered.status, 0) << row.legend << ": " << recovered.err;
        EXPECT_TRUE(m_boards[0]->Holds(receiver::MakeSampleImage(NewFirmware()), 0xC000)) << row.legend;
    }
}

// A production line: boards plugged in one after another, one failing, one
// holding the image already, one unplugged and plugged in again; a board there
// at start is left alone with --new-only. Each is flashed once, the failure
// stops none of the others, and the report and the JUnit file hold each.
TEST_F(Cli, WatchFlashesEachReceiverOnce)
{
    const std::string image = Image(NewFirmware());
    const test::Bytes bytes = test::ReadFile(image);
    const test::Bytes older = m_oldFlash;
    auto& present = Board(0);
    const std::string report = m_folder.File("line.jsonl");
    const std::string junit = m_folder.File("line.xml");
    size_t firstErases = 0;
    const auto reported = [&] {
        const std::string text = std::filesystem::exists(report) ? ReadText(report) : "";
        return std::count(text.begin(), text.end(), '\n');
    };
    const CliRun run = RunCli({"watch", image, "--new-only", "--count", "4", "--report", report, "--junit", junit,
                               "--timeout", "60"},
                              false, [&](pid_t pid) {
        // The JUnit file is written once the folder is watched.
        ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(junit); }, 10s));
        Board(1).SetFault(receiver::BoardFault::BadCell, true);
        ASSERT_TRUE(LogHas(1, "Receiver "));
        m_oldFlash = receiver::MakeSampleImage(NewFirmware());
        Board(2);
        ASSERT_TRUE(LogHas(2, "Receiver "));
        m_oldFlash = older;
        auto& first = Board(3);
        ASSERT_TRUE(LogHas(3, "uploaded and verified"));
        firstErases = first.Transcript().Erases().size();
        m_boards[3]->Stop();
        Board(3);
        if (!test::WaitUntil([&] { return reported() == 4; }, 45s))
            kill(pid, SIGINT);
    });
    EXPECT_EQ(run.status, 6) << run.err;   // the worst, though the last one succeeded
    EXPECT_EQ(present.Transcript().ReceivedCount(), 0u);
    EXPECT_EQ(firstErases, 1u);
    EXPECT_TRUE(m_boards[3]->Holds(bytes, 0xC000));

    std::map<std::string, std::vector<std::string>> results;   // by port
    const std::string lines = ReadText(report);
    for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
        const json r = json::parse(lines.substr(start, end - start), nullptr, false);
        ASSERT_FALSE(r.is_discarded()) << lines;
        results[r["port"]].push_back(r["result"]);
        EXPECT_EQ(r["image_sha256"], ToHex(Sha256(bytes.data(), bytes.size())));
        EXPECT_TRUE(r.contains("time") && r.contains("stable_name") && r.contains("usb_serial")) << r.dump();
        if (r["result"] == "ok") {
            EXPECT_EQ(r["receiver_after"]["fw"]["version"], "V2.31") << r.dump();
            EXPECT_GT(r["words_compared"].get<int>(), 0);
        }
        if (r["result"] == "verify_mismatch") {
            EXPECT_EQ(r["first_difference"]["address"], "0x10000000");
        }
    }
    const std::map<std::string, std::vector<std::string>> expected {
        {Port(1), {"verify_mismatch"}}, {Port(2), {"skipped"}}, {Port(3), {"ok", "ok"}}};
    EXPECT_EQ(results, expected) << lines;

    QXmlStreamReader xml(QByteArray::fromStdString(ReadText(junit)));
    std::map<std::string, int> seen;
    std::string declared;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            ++seen[xml.name().toString().toStdString()];
            if (xml.name() == QStringLiteral("testsuites"))
                for (const char* count : {"tests", "failures", "skipped"})
                    declared += xml.attributes().value(count).toString().toStdString() + " ";
        }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(declared, "4 1 1 ");
    EXPECT_EQ(seen["testcase"], 4);
    EXPECT_EQ(seen["failure"], 1);
}

// Ctrl-C stops the receiver in progress as flash does: told in what state,
// recorded, the summary printed, exit status 130.
TEST_F(Cli, WatchStoppedByCtrlC)
{
    receiver::BoardOptions slow;
    slow.sectorEraseTime = 3s;
    Board(0, slow);
    const std::string report = m_folder.File("line.jsonl");
    const CliRun run = RunCli({"watch", Image(NewFirmware()), "--report", report}, false, [&](pid_t pid) {
        ASSERT_TRUE(LogHas(0, "Erasing FLASH..."));
        kill(pid, SIGINT);
    });
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find(" interrupted during erase; the receiver's flash may be partly erased"), std::string::npos)
        << run.err;
    EXPECT_NE(run.out.rfind("0 done, 1 failed, 0 skipped, 0 in progress"), std::string::npos) << run.out;
    EXPECT_NE(ReadText(report).find("\"result\":\"interrupted\""), std::string::npos);
}

// udev's events as `udevadm monitor --udev --property` shows them, and device
// folder entries, through the watch's choice of ports: only USB serial
// devices' adds and removes count, the filters hold, and a port is taken again
// only after it went away (udevadm trigger sends "add" for what is plugged in).
TEST(WatchPorts, RecordedEventsTakeEachPortOnce)
{
    const std::string ftdi = "SUBSYSTEM=tty\nDEVNAME=/dev/ttyUSB0\nDEVLINKS=/dev/serial/by-path/pci-0000:00:14.0-usb-"
        "0:2:1.0-port0 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Q2P-if00-port0\nID_VENDOR_ID=0403\n"
        "ID_MODEL_ID=6001\nID_SERIAL_SHORT=A10K3Q2P\n";
    const struct {
        const char* legend;
        std::string recorded;
        int event;   // -1 none, else the kind
        bool taken;
    } rows[] = {
        {"plugged in", "ACTION=add\n" + ftdi, 0, true},
        {"udevadm trigger", "ACTION=add\n" + ftdi, 0, false},
        {"change", "ACTION=change\n" + ftdi, -1, false},
        {"no USB serial", "ACTION=add\nSUBSYSTEM=tty\nDEVNAME=/dev/ttyS0\n", -1, false},
        {"other VID:PID", "ACTION=add\nSUBSYSTEM=tty\nDEVNAME=/dev/ttyACM0\nID_VENDOR_ID=1546\nID_MODEL_ID=01a8\n", 0,
         false},
        {"unplugged", "ACTION=remove\n" + ftdi, 1, false},
        {"plugged in again", "ACTION=add\n" + ftdi, 0, true},
    };
    cli::PortTracker tracker({"/dev/serial/by-id/usb-FTDI_*"}, {"0403:6001"});
    for (const auto& row : rows) {
        std::map<std::string, std::string> properties;
        std::istringstream lines(row.recorded);
        for (std::string line; std::getline(lines, line);)
            properties[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        const auto event = cli::PortEventFromUdev(properties);
        EXPECT_EQ(event ? int(event->kind) : -1, row.event) << row.legend;
        EXPECT_EQ(event && tracker.Offer(*event), row.taken) << row.legend;
        if (row.taken) {
            EXPECT_EQ(event->port.stableName, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Q2P-if00-port0");
            EXPECT_EQ(event->port.serial, "A10K3Q2P");
        }
    }
    cli::PortTracker folder({"gps[2-4]"}, {});
    for (const auto& [name, taken] : {std::pair {"gps1", false}, {"gps3", true}, {"gps34", false}}) {
        cli::PortEvent added;
        added.port.name = added.port.path = "/run/line/" + std::string(name);
        EXPECT_EQ(folder.Offer(added), taken) << name;
    }
}

} // namespace
} // namespace velmor
