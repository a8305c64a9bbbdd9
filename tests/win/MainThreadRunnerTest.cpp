// Hand-over of calls from a worker thread to the main thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "win/ui/MainThreadRunner.h"

namespace corvane::test {
namespace {

TEST(MainThreadRunner, RunsCallsOnTheMainThreadWhileTheWaitServesThem) {
    win::MainThreadRunner runner;
    const DWORD mainThread = GetCurrentThreadId();
    std::atomic<bool> done{false};
    std::atomic<int> ranOnMain{0};
    std::string caught;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            runner.RunOnMainThread([&] {
                if (GetCurrentThreadId() == mainThread) ++ranOnMain;
            });
        try {
            runner.RunOnMainThread([] { throw std::runtime_error("scan failed"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        done = true;
    });
    // The worker blocks in each hand-over until this wait serves it.
    win::MainThreadRunner::WaitServing([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(ranOnMain, 3);
    EXPECT_EQ(caught, "scan failed");
}

TEST(MainThreadRunner, RunsAtOnceWhenAlreadyOnTheMainThread) {
    win::MainThreadRunner runner;
    int calls = 0;
    runner.RunOnMainThread([&] { ++calls; });
    EXPECT_EQ(calls, 1);
}

TEST(MainThreadRunner, WaitKeepsAQuitForTheOuterLoop) {
    PostQuitMessage(7);
    int polls = 0;
    win::MainThreadRunner::WaitServing([&] { return ++polls > 3; });
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

}  // namespace
}  // namespace corvane::test
