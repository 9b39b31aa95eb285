// Installed before main runs, so not even a test that points the device folder at /dev can reboot.
#include "tests/storage/reboot_guard.h"

#include "platform/storage/storage.h"

#include <atomic>

namespace velmor::test {
namespace {

std::atomic<int> g_reboots {0};

void Record()
{
    ++g_reboots;
}

[[maybe_unused]] const bool g_installed = (platform::SetRebootAction(&Record), true);

} // namespace

int RecordedReboots()
{
    return g_reboots;
}

} // namespace velmor::test
