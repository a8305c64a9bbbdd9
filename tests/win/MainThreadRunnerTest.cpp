// Hand-over of calls from a worker thread to the main thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
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
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    win::MainThreadRunner::WaitServing([&] { return done.load() || std::chrono::steady_clock::now() > end; });
    ASSERT_TRUE(done.load()) << "the hand-overs were not served";
    worker.join();
    EXPECT_EQ(ranOnMain, 3);
    EXPECT_EQ(caught, "scan failed");
}

TEST(MainThreadRunner, RefusesToStartWithoutItsWindow) {
    // A class of the runner's name whose windows refuse to be created: the
    // runner must not come up unable to receive any call.
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    UnregisterClassW(L"CorvaneMainThreadRunner", instance);  // left by an earlier runner
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        return msg == WM_NCCREATE ? FALSE : DefWindowProcW(hwnd, msg, wp, lp);
    };
    wc.hInstance = instance;
    wc.lpszClassName = L"CorvaneMainThreadRunner";
    ASSERT_NE(RegisterClassExW(&wc), 0);
    std::string error;
    try {
        win::MainThreadRunner runner;
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    EXPECT_TRUE(UnregisterClassW(L"CorvaneMainThreadRunner", instance));
    EXPECT_NE(error.find("ウィンドウを作成できません"), std::string::npos) << error;
    win::MainThreadRunner working;  // the runner's own class again
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
