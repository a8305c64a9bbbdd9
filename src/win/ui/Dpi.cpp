#include "win/ui/Dpi.h"

#include "win/security/SystemLibrary.h"

#include "../../../res/resource.h"

namespace corvane::win {
namespace {

template <typename Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

}  // namespace

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (window && getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(window); dpi > 0) return static_cast<int>(dpi);
    }
    return SystemDpi();
}

int MonitorDpi(const RECT& area) {
    // shcore.dll is loaded from System32 only, and only where it exists.
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto getDpiForMonitor = SystemFunction<GetDpiForMonitorFn>(L"shcore.dll", "GetDpiForMonitor");
    constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    UINT x = 0, y = 0;
    if (getDpiForMonitor) {
        if (HMONITOR monitor = MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST);
            monitor && SUCCEEDED(getDpiForMonitor(monitor, kEffectiveDpi, &x, &y)) && y > 0)
            return static_cast<int>(y);
    }
    return SystemDpi();
}

int SmallIconSide(int dpi) {
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    const int side = forDpi ? forDpi(SM_CXSMICON, static_cast<UINT>(dpi)) : MulDiv(16, dpi, 96);
    return side > 0 ? side : 16;
}

HICON LoadProgramIcon(const wchar_t* name, int side) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), name, IMAGE_ICON, side, side, 0));
}

int CommandsBitmapId(int side) {
    switch (side) {
        case 20: return IDB_COMMANDS_20;
        case 24: return IDB_COMMANDS_24;
        case 32: return IDB_COMMANDS_32;
        default: return IDB_COMMANDS;
    }
}

int SessionsBitmapId(int side) {
    switch (side) {
        case 20: return IDB_SESSIONS_DESIGNED_20;
        case 24: return IDB_SESSIONS_DESIGNED_24;
        case 32: return IDB_SESSIONS_DESIGNED_32;
        default: return IDB_SESSIONS_DESIGNED;
    }
}

}  // namespace corvane::win
