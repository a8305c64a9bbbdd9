#pragma once
// Hand-over of calls from worker threads to the thread that owns the windows.
// A message-only window receives each call as a sent message, so every
// message loop of the main thread (the main loop, modal loops, and the
// teardown wait) serves it.
#include <windows.h>

#include <functional>

#include "core/watch/WatchPorts.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

class MainThreadRunner final : public IMainThreadRunner {
public:
    // Must be constructed on the main thread. Throws std::runtime_error when
    // its window cannot be created, since no call would ever be handed over.
    MainThreadRunner();
    ~MainThreadRunner() override = default;
    void RunOnMainThread(const std::function<void()>& call) override;

    // Waits until `done` returns true, while serving hand-overs and every
    // other message of this thread.
    static void WaitServing(const std::function<bool()>& done);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    DWORD mainThreadId_;
    UniqueWindow window_;
};

}  // namespace corvane::win
