// Calls onto the GUI thread: where and in what order they run, no deadlock on
// the GUI thread itself, and the gate that lets late workers go.
#include "platform/dialog/gui_caller.h"
#include "tests/platform/gui_wait.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

constexpr auto kWorkerDeadline = 5s;

bool OnGuiThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

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

TEST(GuiCallerTest, WorkerCallsRunOnTheGuiThreadInOrder)
{
    GuiCaller caller;
    constexpr int kCalls = 300;
    std::vector<int> order;   // touched on the GUI thread only
    std::atomic<int> offThread = 0;
    std::atomic<int> returnedTrue = 0;
    std::atomic<bool> done = false;
    StartWorker([&] {
        for (int i = 0; i < kCalls; ++i) {
            const bool ran = caller.Call([&, i] {
                if (!OnGuiThread())
                    ++offThread;
                order.push_back(i);
            });
            returnedTrue += ran ? 1 : 0;
        }
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    ASSERT_EQ(order.size(), size_t(kCalls));
    for (int i = 0; i < kCalls; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_EQ(offThread, 0);
    EXPECT_EQ(returnedTrue, kCalls);
    EXPECT_EQ(caller.InFlight(), 0u);
}

TEST(GuiCallerTest, CallsFromTheGuiThreadRunAtOnce)
{
    GuiCaller caller;
    int depth = 0;
    bool innerRan = false;
    // Nested too: a call made from within a call.
    EXPECT_TRUE(caller.Call([&] {
        ++depth;
        innerRan = caller.Call([&] { EXPECT_EQ(depth, 1); });
    }));
    EXPECT_EQ(depth, 1);
    EXPECT_TRUE(innerRan);
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

TEST(GuiCallerTest, WaitIdleGivesUpAtItsDeadline)
{
    GuiCaller caller;
    std::atomic<int> idle = -1;
    StartWorker([&] {
        // The waiting call is itself in flight, so it can never see none left.
        caller.Call([&] { idle = caller.WaitIdle(50ms) ? 1 : 0; });
    });
    ASSERT_TRUE(WaitUntil([&] { return idle != -1; }));
    EXPECT_EQ(idle, 0);
    EXPECT_TRUE(caller.WaitIdle(kWorkerDeadline));
}

} // namespace
} // namespace platform
