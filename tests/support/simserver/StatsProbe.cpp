// A process whose holdings the end-to-end tests set, so that
// `corvane_wintool stats` can be checked against known numbers. It shows a
// window titled "StatsProbe" and takes WM_COMMAND ids from outside
// (`corvane_wintool command StatsProbe <id>`):
//   1  creates 50 unnamed events              (+50 handles)
//   2  creates 50 solid brushes               (+50 GDI objects)
//   3  creates 5 windows: 2 hidden top-level, (+5 USER objects)
//      2 children of the probe's window and 1 message-only window
//   9  frees everything created so far
// It ends when its window is closed.
#include <windows.h>

#include <vector>

namespace {

constexpr int kEvents = 1, kBrushes = 2, kWindows = 3, kFree = 9;

std::vector<HANDLE> events;
std::vector<HBRUSH> brushes;
std::vector<HWND> windows;

HWND Make(const wchar_t* title, DWORD style, HWND parent) {
    return CreateWindowExW(0, L"STATIC", title, style, 0, 0, 10, 10, parent, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

void FreeAll() {
    for (HANDLE event : events) CloseHandle(event);
    for (HBRUSH brush : brushes) DeleteObject(brush);
    // Children first: they go with their parent's destruction otherwise.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) DestroyWindow(*it);
    events.clear();
    brushes.clear();
    windows.clear();
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case kEvents:
            for (int i = 0; i < 50; ++i) events.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            return 0;
        case kBrushes:
            for (int i = 0; i < 50; ++i) brushes.push_back(CreateSolidBrush(RGB(i, 2 * i, 3 * i)));
            return 0;
        case kWindows:
            windows.push_back(Make(L"probe top 1", WS_POPUP, nullptr));
            windows.push_back(Make(L"probe top 2", WS_POPUP, nullptr));
            windows.push_back(Make(L"probe child 1", WS_CHILD, window));
            windows.push_back(Make(L"probe child 2", WS_CHILD, window));
            windows.push_back(Make(L"probe message-only", 0, HWND_MESSAGE));
            return 0;
        case kFree:
            FreeAll();
            return 0;
        }
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ProbeProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"CorvaneStatsProbe";
    if (!RegisterClassW(&windowClass)) return 1;
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"StatsProbe", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  0, 0, 200, 100, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    FreeAll();
    return 0;
}
