// The gate that lets workers go without the GUI thread once a dialog closes:
// calls made after it shuts, and calls already waiting when it does. Where and
// in what order calls run shows in every dialog test that logs from a worker.
#include "platform/dialog/gui_caller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kWorkerDeadline = 5s;

// Holds the calling thread until `condition` holds or the deadline passes,
// without handling a single event.
bool SpinUntil(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + kWorkerDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(GuiCallerTest, AShutGateLetsWorkersGoWithoutRunningAnything)
{
    GuiCaller caller;
    caller.Shut();
    bool ran = false;
    // The GUI thread handles no events while it waits: the worker must not need it.
    auto result = std::async(std::launch::async, [&] { return caller.Call([&] { ran = true; }); });
    ASSERT_EQ(result.wait_for(kWorkerDeadline), std::future_status::ready);
    EXPECT_FALSE(result.get());
    EXPECT_FALSE(caller.Call([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(GuiCallerTest, CallsWaitingWhenTheGateShutsAreDropped)
{
    GuiCaller caller;
    bool ran = false;
    auto result = std::async(std::launch::async, [&] { return caller.Call([&] { ran = true; }); });
    ASSERT_TRUE(SpinUntil([&] { return caller.InFlight() == 1; }));
    caller.Shut();
    EXPECT_TRUE(caller.WaitIdle(kWorkerDeadline));
    ASSERT_EQ(result.wait_for(kWorkerDeadline), std::future_status::ready);
    EXPECT_FALSE(result.get());
    EXPECT_FALSE(ran);
}

} // namespace
} // namespace platform
