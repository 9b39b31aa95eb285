// The board program as the demo and the benchmarks run it: velmor-board
// publishes its device, answers, and cleans up on SIGTERM.
#include "receiver/sample_image.h"
#include "platform/serial_port.h"
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

// Sends `query` and returns the first line beginning with `prefix`; "" when none came within `wait`.
std::string Ask(platform::SerialPort& port, const std::string& query, const std::string& prefix,
                std::chrono::milliseconds wait)
{
    port.Purge();
    port.Write(reinterpret_cast<const uint8_t*>(query.data()), query.size());
    std::string got;
    const auto deadline = port.Now() + wait;
    while (port.Now() < deadline) {
        uint8_t buffer[256];
        const int n = port.Read(buffer, sizeof buffer, 50ms);
        if (n < 0)
            break;
        got.append(reinterpret_cast<char*>(buffer), size_t(n));
        const size_t at = got.find(prefix);
        const size_t end = at == std::string::npos ? at : got.find('\n', at);
        if (end != std::string::npos)
            return got.substr(at, end + 1 - at);
    }
    return "";
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
        auto port = platform::SerialPort::Open(dir.File("gps2"));
        ASSERT_TRUE(port && port->Configure(57600));
        EXPECT_EQ(Ask(*port, "$PKVRQ,RDM,10000000\r\n", "$PKVRR", 2s), "$PKVRR,RDM,10000000,FFFFFFFF*3B\r\n");
        EXPECT_EQ(Ask(*port, "$PKVRQ,RID\r\n", "$PKVRR", 100ms), "");
    }

    kill(pid_t(std::atoi(pid)), SIGTERM);
    const int status = pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(access(dir.File("gps2").c_str(), F_OK), 0);
}

} // namespace
} // namespace receiver
