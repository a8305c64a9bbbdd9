// Window helper for the end-to-end tests, run under Wine in the test's prefix:
//   corvane_wintool close <title>      what a click on the close box does:
//                                      WM_SYSCOMMAND/SC_CLOSE to every visible
//                                      top-level window with exactly that title
//   corvane_wintool find <title>       prints how many such windows exist
//   corvane_wintool broadcast <name>   posts the registered message <name>
//                                      (e.g. TaskbarCreated) to all top-level windows
//
// The commands below act on the first visible top-level window titled <title>
// that has a child with control id <id>; they print UTF-8 text, one record a
// line, cells separated by tabs:
//   corvane_wintool listview <title> <id>   every row of a report list view:
//                                           caption, then each sub item
//   corvane_wintool columns <title> <id>    the width of each list-view column
//   corvane_wintool visible <title> <id>    1 when the control is visible, else 0
//   corvane_wintool tab <title> [<id>]      the selected tab (tab control id 10
//                                           when not given)
//   corvane_wintool tabrect <title> <index> [<id>]
//                                           screen rectangle of one tab:
//                                           left top right bottom
//   corvane_wintool command <title> <id>    posts WM_COMMAND <id> to the window
//                                           (that one needs no child <id>)
//   corvane_wintool classcommand <class> <id>
//                                           posts WM_COMMAND <id> to the first
//                                           top-level window of that class,
//                                           shown or hidden (a program that
//                                           lives in the tray)
//   corvane_wintool placement <title>       the window's placement record
//                                           (flags showCmd minX minY maxX maxY
//                                           left top right bottom), then its
//                                           window rectangle (left top right bottom)
//   corvane_wintool dialogs <title>         for every visible dialog box
//                                           (class #32770) with that title, one
//                                           line with the texts of its children
//   corvane_wintool dismiss <title>         presses OK (IDOK) in every such dialog box
//   corvane_wintool windows <class>         for every visible top-level window of
//                                           that class (e.g. tooltips_class32, or
//                                           #32768 for an open menu): its screen
//                                           rectangle and style (decimal)
//                                           (left top right bottom style); for a
//                                           menu, then the text of each item
//   corvane_wintool press <title> <id>      presses the button <id> (6 Yes, 7 No,
//                                           2 Cancel...) in every such dialog box
//   corvane_wintool settext <title> <id> <text>
//                                           sets the text of control <id> in
//                                           every such dialog box
// The list and tab contents are read across the process boundary: the
// message structures and text buffers are placed in the owner's memory.
// Exit code 0 on success, 1 when no window matched or a read failed, 2 on a
// usage error.
#include <windows.h>

#include <algorithm>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kTextCapacity = 1024;  // characters per cell

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

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// The first window titled `title` with a child of id `id`, and that child.
bool FindControl(const std::wstring& title, int id, HWND& owner, HWND& control) {
    for (HWND window : FindWindows(title)) {
        if (HWND child = GetDlgItem(window, id)) {
            owner = window;
            control = child;
            return true;
        }
    }
    return false;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

void PrintLine(const std::vector<std::wstring>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i) line += '\t';
        line += Utf8(cells[i]);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

class ProcessHandle {
public:
    explicit ProcessHandle(HWND window) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        handle_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    }
    ~ProcessHandle() {
        if (handle_) CloseHandle(handle_);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    HANDLE get() const noexcept { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

// A block of memory in another process.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, SIZE_T size)
        : process_(process),
          address_(process ? VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)
                           : nullptr) {}
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    explicit operator bool() const noexcept { return address_ != nullptr; }
    char* get() const noexcept { return static_cast<char*>(address_); }
    bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
        SIZE_T done = 0;
        return WriteProcessMemory(process_, get() + offset, data, size, &done) && done == size;
    }
    bool Read(SIZE_T offset, void* data, SIZE_T size) const {
        SIZE_T done = 0;
        return ReadProcessMemory(process_, get() + offset, data, size, &done) && done == size;
    }

private:
    HANDLE process_;
    void* address_;
};

int ColumnCount(HWND list) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

int ListRows(HWND owner, HWND list) {
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    const int columns = ColumnCount(list);
    ProcessHandle process(owner);
    constexpr SIZE_T textOffset = (sizeof(LVITEMW) + 15) & ~SIZE_T{15};
    RemoteBlock block(process.get(), textOffset + kTextCapacity * sizeof(wchar_t));
    if (!block) {
        std::fprintf(stderr, "no memory in the list's process (error %lu)\n", GetLastError());
        return 1;
    }
    for (int row = 0; row < rows; ++row) {
        std::vector<std::wstring> cells;
        for (int column = 0; column < columns; ++column) {
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = reinterpret_cast<wchar_t*>(block.get() + textOffset);
            item.cchTextMax = kTextCapacity;
            const wchar_t empty = L'\0';
            if (!block.Write(0, &item, sizeof item) || !block.Write(textOffset, &empty, sizeof empty)) {
                std::fputs("cannot write into the list's process\n", stderr);
                return 1;
            }
            SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(block.get()));
            std::wstring text(static_cast<std::size_t>(kTextCapacity), L'\0');
            if (!block.Read(textOffset, text.data(), text.size() * sizeof(wchar_t))) {
                std::fputs("cannot read from the list's process\n", stderr);
                return 1;
            }
            text.resize(std::wcslen(text.c_str()));
            cells.push_back(text);
        }
        PrintLine(cells);
    }
    return 0;
}

int TabRect(HWND owner, HWND tab, int index) {
    ProcessHandle process(owner);
    RemoteBlock block(process.get(), sizeof(RECT));
    if (!block) return 1;
    if (!SendMessageW(tab, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(block.get())))
        return 1;
    RECT rect{};
    if (!block.Read(0, &rect, sizeof rect)) return 1;
    MapWindowPoints(tab, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    auto* texts = reinterpret_cast<std::vector<std::wstring>*>(param);
    const int length = GetWindowTextLengthW(child);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(child, text.data(), length + 1)));
    // One record a line: line breaks inside a text become blanks.
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
    if (!text.empty()) texts->push_back(text);
    return TRUE;
}

int Usage() {
    std::fputs("usage: corvane_wintool close|find|broadcast|placement|dialogs|dismiss <text>\n"
               "       corvane_wintool listview|columns|visible|command|text <title> <id>\n"
               "       corvane_wintool ping <title> <count> <pause-ms>\n"
               "       corvane_wintool tab <title> [<id>]\n"
               "       corvane_wintool tabrect <title> <index> [<id>]\n",
               stderr);
    return 2;
}

bool ParseInt(const wchar_t* text, int& value) {
    wchar_t* end = nullptr;
    const long parsed = std::wcstol(text, &end, 10);
    if (end == text || *end != L'\0') return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    const std::wstring command = argv[1];
    const std::wstring text = argv[2];
    if (argc == 3 && command == L"close") {
        const std::vector<HWND> windows = FindWindows(text);
        for (HWND window : windows) PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        std::printf("%u\n", static_cast<unsigned>(windows.size()));
        return windows.empty() ? 1 : 0;
    }
    if (argc == 3 && command == L"find") {
        const std::vector<HWND> windows = FindWindows(text);
        std::printf("%u\n", static_cast<unsigned>(windows.size()));
        return windows.empty() ? 1 : 0;
    }
    if (argc == 3 && command == L"broadcast") {
        const UINT message = RegisterWindowMessageW(text.c_str());
        return message != 0 && PostMessageW(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
    }
    if (argc == 3 && command == L"placement") {
        for (HWND window : FindWindows(text)) {
            if (ClassOf(window) == L"#32770") continue;
            WINDOWPLACEMENT wp{};
            wp.length = sizeof wp;
            RECT rect{};
            if (!GetWindowPlacement(window, &wp) || !GetWindowRect(window, &rect)) return 1;
            std::printf("%u %u %ld %ld %ld %ld %ld %ld %ld %ld\n%ld %ld %ld %ld\n", wp.flags, wp.showCmd,
                        wp.ptMinPosition.x, wp.ptMinPosition.y, wp.ptMaxPosition.x, wp.ptMaxPosition.y,
                        wp.rcNormalPosition.left, wp.rcNormalPosition.top, wp.rcNormalPosition.right,
                        wp.rcNormalPosition.bottom, rect.left, rect.top, rect.right, rect.bottom);
            return 0;
        }
        return 1;
    }
    if (argc == 3 && command == L"dialogs") {
        unsigned count = 0;
        for (HWND window : FindWindows(text)) {
            if (ClassOf(window) != L"#32770") continue;
            std::vector<std::wstring> texts;
            EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&texts));
            PrintLine(texts);
            ++count;
        }
        return count ? 0 : 1;
    }
    if (argc == 3 && command == L"windows") {
        struct ClassSearch {
            std::wstring name;
            std::vector<HWND> found;
        } search{text, {}};
        EnumWindows(
            [](HWND window, LPARAM param) -> BOOL {
                auto* s = reinterpret_cast<ClassSearch*>(param);
                if (IsWindowVisible(window) && ClassOf(window) == s->name) s->found.push_back(window);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        for (HWND window : search.found) {
            RECT r{};
            GetWindowRect(window, &r);
            std::vector<std::wstring> cells{std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
                                            std::to_wstring(r.right) + L" " + std::to_wstring(r.bottom) + L" " +
                                            std::to_wstring(GetWindowLongW(window, GWL_STYLE))};
            if (text == L"#32768") {
                HMENU menu = reinterpret_cast<HMENU>(SendMessageW(window, MN_GETHMENU, 0, 0));
                for (int i = 0, n = menu ? GetMenuItemCount(menu) : 0; i < n; ++i) {
                    wchar_t item[kTextCapacity] = {};
                    GetMenuStringW(menu, static_cast<UINT>(i), item, kTextCapacity, MF_BYPOSITION);
                    cells.push_back(item);
                }
            }
            PrintLine(cells);
        }
        return search.found.empty() ? 1 : 0;
    }
    if (argc == 3 && command == L"dismiss") {
        unsigned count = 0;
        for (HWND window : FindWindows(text)) {
            if (ClassOf(window) != L"#32770") continue;
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            ++count;
        }
        std::printf("%u\n", count);
        return count ? 0 : 1;
    }
    if (command == L"classcommand" && argc == 4) {
        int id = 0;
        if (!ParseInt(argv[3], id)) return Usage();
        HWND window = FindWindowW(text.c_str(), nullptr);
        return window && PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
    }
    if (command == L"press" && argc == 4) {
        int id = 0;
        if (!ParseInt(argv[3], id)) return Usage();
        unsigned count = 0;
        for (HWND window : FindWindows(text)) {
            if (ClassOf(window) != L"#32770") continue;
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
            ++count;
        }
        std::printf("%u\n", count);
        return count ? 0 : 1;
    }
    if (command == L"settext" && argc == 5) {
        int id = 0;
        if (!ParseInt(argv[3], id)) return Usage();
        unsigned count = 0;
        for (HWND window : FindWindows(text)) {
            if (ClassOf(window) != L"#32770" || !GetDlgItem(window, id)) continue;
            if (SendMessageW(GetDlgItem(window, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]))) ++count;
        }
        std::printf("%u\n", count);
        return count ? 0 : 1;
    }
    if (command == L"command" && argc == 4) {
        int id = 0;
        if (!ParseInt(argv[3], id)) return Usage();
        for (HWND window : FindWindows(text)) {
            if (ClassOf(window) == L"#32770") continue;
            return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
        }
        return 1;
    }
    if (command == L"tab" && (argc == 3 || argc == 4)) {
        int id = 10;
        if (argc == 4 && !ParseInt(argv[3], id)) return Usage();
        HWND owner = nullptr, control = nullptr;
        if (!FindControl(text, id, owner, control)) return 1;
        std::printf("%d\n", static_cast<int>(SendMessageW(control, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    if (command == L"tabrect" && (argc == 4 || argc == 5)) {
        int index = 0, id = 10;
        if (!ParseInt(argv[3], index) || (argc == 5 && !ParseInt(argv[4], id))) return Usage();
        HWND owner = nullptr, control = nullptr;
        if (!FindControl(text, id, owner, control)) return 1;
        return TabRect(owner, control, index);
    }
    if (argc == 4 && command == L"text") {
        int id = 0;
        if (!ParseInt(argv[3], id)) return Usage();
        HWND owner = nullptr, control = nullptr;
        if (!FindControl(text, id, owner, control)) return 1;
        // Asked of the control itself: GetWindowTextW would answer with the
        // caption the system keeps for windows of another process.
        std::wstring buffer(1024, L'\0');
        const LRESULT length = SendMessageW(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
        buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        PrintLine({buffer});
        return 0;
    }
    if (argc == 5 && command == L"ping") {
        // How long the window takes to answer: `count` empty messages, one
        // every `pause` ms; prints the median and the longest in ms.
        int count = 0, pause = 0;
        if (!ParseInt(argv[3], count) || !ParseInt(argv[4], pause) || count <= 0) return Usage();
        const std::vector<HWND> windows = FindWindows(text);
        if (windows.empty()) return 1;
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        std::vector<double> times;
        for (int i = 0; i < count; ++i) {
            LARGE_INTEGER before{}, after{};
            QueryPerformanceCounter(&before);
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(windows[0], WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result)) return 1;
            QueryPerformanceCounter(&after);
            times.push_back(1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                            static_cast<double>(frequency.QuadPart));
            Sleep(static_cast<DWORD>(pause));
        }
        std::sort(times.begin(), times.end());
        std::printf("%.2f %.2f\n", times[times.size() / 2], times.back());
        return 0;
    }
    if (argc == 4 && (command == L"listview" || command == L"columns" || command == L"visible")) {
        int id = 0;
        if (!ParseInt(argv[3], id)) return Usage();
        HWND owner = nullptr, control = nullptr;
        if (!FindControl(text, id, owner, control)) return 1;
        if (command == L"visible") {
            std::printf("%d\n", IsWindowVisible(control) ? 1 : 0);
            return 0;
        }
        if (command == L"columns") {
            std::vector<std::wstring> widths;
            for (int column = 0, n = ColumnCount(control); column < n; ++column)
                widths.push_back(std::to_wstring(SendMessageW(control, LVM_GETCOLUMNWIDTH, column, 0)));
            PrintLine(widths);
            return 0;
        }
        return ListRows(owner, control);
    }
    return Usage();
}
