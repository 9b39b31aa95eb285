// Installed before main runs, so not even a test that points the device folder at /dev can reboot.
#include "tests/storage/reboot_guard.h"

#include "platform/storage/storage.h"

#include <atomic>

namespace velmor::test {
namespace {

std::atomic<int> g_reboots {0};
[[maybe_unused]] const bool g_installed = (platform::SetRebootAction([] { ++g_reboots; }), true);

} // namespace

int RecordedReboots()
{
    return g_reboots;
}

} // namespace velmor::test
