#include "win/ui/Window.h"

#include <exception>

#include "win/ui/UniqueResource.h"

namespace corvane::win {

void Window::RegisterWindowClass(const wchar_t* className, HICON icon, HICON smallIcon) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Window::WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = icon;
    wc.hIconSm = smallIcon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    RegisterClassExW(&wc);
}

HWND Window::CreateWindowObject(DWORD exStyle, const wchar_t* className, const wchar_t* caption, DWORD style,
                                int x, int y, int width, int height, HWND parent, HMENU menu) {
    return CreateWindowExW(exStyle, className, caption, style, x, y, width, height, parent, menu,
                           GetModuleHandleW(nullptr), this);
}

LRESULT Window::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd_, msg, wp, lp); }

void Window::ShowError(const std::string& message) { ShowErrorBox(hwnd_, message); }

namespace {
thread_local int nestedLoops = 0;
}  // namespace

NestedLoopScope::NestedLoopScope() noexcept { ++nestedLoops; }
NestedLoopScope::~NestedLoopScope() { --nestedLoops; }
bool NestedLoopScope::Active() noexcept { return nestedLoops > 0; }

void ShowErrorBox(HWND owner, const std::string& message) {
    NestedLoopScope nested;
    MessageBoxW(owner, Wide(message).c_str(), L"Corvane", MB_OK | MB_ICONERROR);
}

int ShowStartupError(const std::string& message) {
    // The main window destroyed on the way out has posted WM_QUIT; left in
    // the queue it would end the box's own message loop before anyone saw it.
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    ShowErrorBox(nullptr, message);
    return 1;
}

LRESULT CALLBACK Window::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Window* self = nullptr;
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
        self = create ? static_cast<Window*>(create->lpCreateParams) : nullptr;
        // A window of one of these classes made without its object (not
        // through CreateWindowObject) has nobody to handle it: refused.
        if (!self) return FALSE;
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    LRESULT result = 0;
    try {
        result = self->HandleMessage(msg, wp, lp);
    } catch (const std::exception& e) {
        self->ShowError(e.what());
    } catch (...) {
        self->ShowError("Unexpected error");
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

}  // namespace corvane::win
