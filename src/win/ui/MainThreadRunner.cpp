#include "win/ui/MainThreadRunner.h"

#include "win/ui/Window.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace corvane::win {
namespace {

constexpr UINT kRunMessage = WM_APP + 1;
constexpr wchar_t kClassName[] = L"CorvaneMainThreadRunner";

struct Request {
    const std::function<void()>* call;
    std::exception_ptr error;
};

// Without its window no hand-over would ever run: the start-up ends with the
// reason instead.
[[noreturn]] void ThrowStartError(const char* what, DWORD code) {
    throw std::runtime_error(std::string(what) + "を作成できません (エラー " + std::to_string(code) + ")");
}

}  // namespace

MainThreadRunner::MainThreadRunner() : mainThreadId_(GetCurrentThreadId()) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &MainThreadRunner::WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    // Registered already by an earlier runner of this process: fine.
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        ThrowStartError("メインスレッドへの受け渡しのウィンドウクラス", GetLastError());
    window_.reset(CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                  nullptr));
    if (!window_) ThrowStartError("メインスレッドへの受け渡しのウィンドウ", GetLastError());
}

void MainThreadRunner::RunOnMainThread(const std::function<void()>& call) {
    if (GetCurrentThreadId() == mainThreadId_) {
        call();
        return;
    }
    Request request{&call, nullptr};
    SendMessageW(window_.get(), kRunMessage, 0, reinterpret_cast<LPARAM>(&request));
    if (request.error) std::rethrow_exception(request.error);
}

LRESULT CALLBACK MainThreadRunner::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunMessage) {
        auto* request = reinterpret_cast<Request*>(lp);
        NestedLoopScope nested;  // a scan: a close sent meanwhile waits for its end
        try {
            (*request->call)();
        } catch (...) {
            request->error = std::current_exception();
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void MainThreadRunner::WaitServing(const std::function<bool()>& done) {
    bool quit = false;
    int quitCode = 0;
    while (!done()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // A quit seen while waiting belongs to the caller's own loop.
    if (quit) PostQuitMessage(quitCode);
}

}  // namespace corvane::win
