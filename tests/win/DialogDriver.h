#pragma once
// Drives modal dialogs of the test's own thread: the steps run from a thread
// timer, which every modal loop of the thread serves, while the code under
// test sits in its modal call. Each step is retried on every tick until it
// reports done; a step that is not done within the deadline ends every dialog
// of the thread and the driver reports the failure.
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace corvane::test {

// The visible dialog box (class #32770) of this thread titled `caption`.
inline HWND FindThreadDialog(const std::wstring& caption) {
    struct Search {
        std::wstring caption;
        HWND found = nullptr;
    } search{caption};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t cls[64] = {}, text[256] = {};
            GetClassNameW(window, cls, 64);
            GetWindowTextW(window, text, 256);
            if (IsWindowVisible(window) && std::wstring(cls) == L"#32770" && s->caption == text) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline std::wstring ControlText(HWND dialog, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

// The texts of every child of a dialog, joined by "|" (for boxes whose
// controls have no known ids, like the system's message box).
inline std::wstring ChildTexts(HWND dialog) {
    std::wstring joined;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
            wchar_t text[512] = {};
            GetWindowTextW(child, text, 512);
            auto* out = reinterpret_cast<std::wstring*>(param);
            if (!out->empty()) *out += L"|";
            *out += text;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&joined));
    return joined;
}

// What a press of a dialog's button does (also IDCANCEL for Escape).
inline void PostCommand(HWND dialog, int id) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

class DialogDriver {
public:
    using Step = std::function<bool()>;  // true: done, go on with the next

    explicit DialogDriver(std::vector<Step> steps, int timeoutMs = 15000)
        : steps_(std::move(steps)), timeout_(timeoutMs) {
        current_ = this;
        deadline_ = std::chrono::steady_clock::now() + timeout_;
        timer_ = SetTimer(nullptr, 0, 15, &DialogDriver::Tick);
    }
    ~DialogDriver() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    bool Finished() const { return next_ == steps_.size(); }
    bool TimedOut() const { return timedOut_; }
    std::size_t StepsDone() const { return next_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        DialogDriver* self = current_;
        if (!self || self->busy_ || self->Finished()) return;
        self->busy_ = true;  // a step that opens a nested loop must not be re-entered
        if (self->steps_[self->next_]()) {
            ++self->next_;
            self->deadline_ = std::chrono::steady_clock::now() + self->timeout_;
        } else if (std::chrono::steady_clock::now() > self->deadline_) {
            self->timedOut_ = true;
            self->next_ = self->steps_.size();
            EnumThreadWindows(
                GetCurrentThreadId(),
                [](HWND window, LPARAM) -> BOOL {
                    wchar_t cls[64] = {};
                    GetClassNameW(window, cls, 64);
                    if (std::wstring(cls) == L"#32770") EndDialog(window, IDCANCEL);
                    return TRUE;
                },
                0);
        }
        self->busy_ = false;
    }

    static inline DialogDriver* current_ = nullptr;
    std::vector<Step> steps_;
    std::chrono::milliseconds timeout_;
    std::chrono::steady_clock::time_point deadline_;
    std::size_t next_ = 0;
    bool busy_ = false;
    bool timedOut_ = false;
    UINT_PTR timer_ = 0;
};

}  // namespace corvane::test
