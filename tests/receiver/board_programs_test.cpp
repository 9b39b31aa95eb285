// The two programs as a user runs them: velmor-mkimage writes what the library
// makes; velmor-board publishes its device, answers, and cleans up on SIGTERM.
#include "receiver/sample_image.h"
#include "tests/receiver/board_client.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace receiver {
namespace {

using namespace std::chrono_literals;

void RunTool(const std::string& command)
{
    ASSERT_EQ(std::system((command + " 2>&1").c_str()), 0) << command;
}

TEST(BoardPrograms, MkimageWritesWhatTheLibraryMakes)
{
    velmor::test::TempDir dir;
    const std::string sfld = dir.File("sfld.hex");
    RunTool(std::string(VELMOR_MKIMAGE_PROGRAM) + " --write-sfld " + sfld + " -o " + dir.File("a.bin")
        + " --pfld-version 2.03 --fw-version Z1 --pfld-size 0x1000 --fw-size 4096 --seed 9 --sfld " + sfld
        + " --bad-checksum fw");
    RunTool(std::string(VELMOR_MKIMAGE_PROGRAM) + " --srec -o " + dir.File("a.s19"));

    SampleImageOptions options;
    options.pfldVersion = "2.03";
    options.fwVersion = "Z1";
    options.pfldSize = 0x1000;
    options.fwSize = 4096;
    options.seed = 9;
    options.sfldPath = sfld;
    options.badChecksum = ChecksumFault::Fw;
    EXPECT_EQ(velmor::test::ReadFile(dir.File("a.bin")), MakeSampleImage(options));
    const std::string srec = MakeSampleSRecords({});
    EXPECT_EQ(velmor::test::ReadFile(dir.File("a.s19")), std::vector<uint8_t>(srec.begin(), srec.end()));
    EXPECT_NE(std::system((std::string(VELMOR_MKIMAGE_PROGRAM) + " --fw-size 3 -o x 2>/dev/null").c_str()), 0);

    // A version text goes into the written SFLD and, without --sfld, into the image's.
    RunTool(std::string(VELMOR_MKIMAGE_PROGRAM) + " --seed 4 --sfld-version V-9 --write-sfld " + dir.File("v.hex")
            + " -o " + dir.File("v.bin"));
    const std::string sfldV = MakeSampleSfld(4, "V-9");
    EXPECT_EQ(velmor::test::ReadFile(dir.File("v.hex")), std::vector<uint8_t>(sfldV.begin(), sfldV.end()));
    SampleImageOptions embedded;
    embedded.seed = 4;
    embedded.sfldVersion = "V-9";
    EXPECT_EQ(velmor::test::ReadFile(dir.File("v.bin")), MakeSampleImage(embedded));
}

TEST(BoardPrograms, BoardTakesOnlyCommandRates)
{
    // --help after --baud: the rate is judged, then the program ends at once.
    const auto run = [](const std::string& rate) {
        return std::system((std::string(VELMOR_BOARD_PROGRAM) + " --baud " + rate + " --help >/dev/null 2>&1").c_str());
    };
    for (const char* rate : {"4800", "38400", "115200"})
        EXPECT_EQ(run(rate), 0) << rate;
    for (const char* rate : {"14400", "230400", "38400x"})
        EXPECT_NE(run(rate), 0) << rate;
}

TEST(BoardPrograms, BoardPublishesAnswersAndCleansUp)
{
    velmor::test::TempDir dir;
    // The shell prints its pid and becomes the board, which prints its device once published.
    FILE* out = popen(("echo $$; exec " + std::string(VELMOR_BOARD_PROGRAM) + " --dir " + dir.Path()
                       + " --name gps2 --baud 57600 --no-stream --fault no-rid").c_str(), "r");
    ASSERT_NE(out, nullptr);
    char pid[32] = {};
    char device[256] = {};
    ASSERT_TRUE(std::fgets(pid, sizeof pid, out) && std::fgets(device, sizeof device, out));
    EXPECT_EQ(device, dir.File("gps2") + "\n");
    {
        test::BoardClient client(dir.File("gps2"), 57600);
        EXPECT_EQ(client.Ask("$PKVRQ,RDM,10000000\r\n", "$PKVRR"), "$PKVRR,RDM,10000000,FFFFFFFF*3B\r\n");
        EXPECT_EQ(client.Ask("$PKVRQ,RID\r\n", "$PKVRR", 100ms), "");
    }

    kill(pid_t(std::atoi(pid)), SIGTERM);
    const int status = pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(access(dir.File("gps2").c_str(), F_OK), 0);
}

} // namespace
} // namespace receiver
