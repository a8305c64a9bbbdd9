#pragma once
// Base of the program's windows: one window procedure that finds the object
// through the handle and keeps exceptions from crossing into Win32.
#include <windows.h>

#include <string>

namespace corvane::win {

class Window {
public:
    Window() = default;
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const noexcept { return hwnd_; }

    // Registers a window class whose procedure forwards to HandleMessage.
    static void RegisterWindowClass(const wchar_t* className, HICON icon, HICON smallIcon);

protected:
    HWND CreateWindowObject(DWORD exStyle, const wchar_t* className, const wchar_t* caption, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu);
    virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
    // Shows an error that a handler raised; the message itself is then done.
    virtual void ShowError(const std::string& message);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND hwnd_ = nullptr;
};

// Marks the main thread as inside something nested in the main loop's
// message: a menu, a modal box or dialog, a call handed over by the watch
// thread. A request to close that arrives meanwhile is carried out when the
// main loop has the thread back, so no teardown runs below a menu or scan
// that would read the dying window afterwards or wait on itself.
class NestedLoopScope {
public:
    NestedLoopScope() noexcept;
    ~NestedLoopScope();
    NestedLoopScope(const NestedLoopScope&) = delete;
    NestedLoopScope& operator=(const NestedLoopScope&) = delete;
    static bool Active() noexcept;
};

// The standard error box for an error raised by a handler.
void ShowErrorBox(HWND owner, const std::string& message);

// An error that stopped the program's start: the box waits for the person
// (also when the window's end already asked the thread to quit); returns
// the program's exit code, 1.
int ShowStartupError(const std::string& message);

}  // namespace corvane::win
