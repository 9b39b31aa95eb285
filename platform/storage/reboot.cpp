// The HAL reboot request on Linux, with the seam that keeps tests from restarting the machine.
#include "platform/storage/storage.h"

#include "platform/paths.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

void SystemReboot()
{
    sync();
    pid_t pid = 0;
    char arg0[] = "systemctl";
    char arg1[] = "reboot";
    char* argv[] = {arg0, arg1, nullptr};
    if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv, environ) == 0)
        waitpid(pid, nullptr, 0);
}

// Constant-initialised, so a test binary's static initialiser can replace it safely.
std::atomic<RebootAction> g_rebootAction {&SystemReboot};

} // namespace

RebootAction SetRebootAction(RebootAction action)
{
    return g_rebootAction.exchange(action ? action : &SystemReboot);
}

void RequestReboot()
{
    const std::string folder = DeviceDirectory();
    if (folder != "/dev") {
        // Not the real device folder: never restart the machine, just leave a trace.
        if (FILE* f = std::fopen((folder + "/reboot-requests").c_str(), "a")) {
            std::fprintf(f, "reboot requested at %lld\n", static_cast<long long>(std::time(nullptr)));
            std::fclose(f);
        }
        return;
    }
    g_rebootAction.load()();
}

} // namespace platform
