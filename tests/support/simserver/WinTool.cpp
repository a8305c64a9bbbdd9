// Window helper for the end-to-end tests, run under Wine in the test's prefix:
//   corvane_wintool close <title>      what a click on the close box does:
//                                      WM_SYSCOMMAND/SC_CLOSE to every visible
//                                      top-level window with exactly that title
//   corvane_wintool find <title>       prints how many such windows exist
//   corvane_wintool broadcast <name>   posts the registered message <name>
//                                      (e.g. TaskbarCreated) to all top-level windows
// Exit code 0 on success, 1 when no window matched, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Search {
    std::wstring title;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
    if (text == search->title) search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> FindWindows(const std::wstring& title) {
    Search search{title, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: corvane_wintool close|find|broadcast <text>\n", stderr);
        return 2;
    }
    const std::wstring command = argv[1];
    const std::wstring text = argv[2];
    if (command == L"close") {
        const std::vector<HWND> windows = FindWindows(text);
        for (HWND window : windows) PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        std::printf("%u\n", static_cast<unsigned>(windows.size()));
        return windows.empty() ? 1 : 0;
    }
    if (command == L"find") {
        const std::vector<HWND> windows = FindWindows(text);
        std::printf("%u\n", static_cast<unsigned>(windows.size()));
        return windows.empty() ? 1 : 0;
    }
    if (command == L"broadcast") {
        const UINT message = RegisterWindowMessageW(text.c_str());
        return message != 0 && PostMessageW(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
    }
    std::fputs("unknown command\n", stderr);
    return 2;
}
