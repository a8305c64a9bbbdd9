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
//   corvane_wintool count <title> <id>      the number of rows of a list view
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
//   corvane_wintool stats <title>           what the process of the first
//                                           top-level window titled <title>
//                                           (shown or hidden) holds, one line:
//                                           pid handles gdi user
//                                           (see ProcessStats below for how
//                                           each is counted)
//   corvane_wintool access <path>           the file's access list, as SDDL
//   corvane_wintool parent <path>           writes the file name of the program
//                                           that started this one into <path>
//                                           (UTF-8)
//   corvane_wintool standard <program> [<argument>]
//                                           runs the program as a standard user
//                                           would: with Administrators deny-only
//                                           in its token; waits for it and exits
//                                           with its exit code
// The list and tab contents are read across the process boundary: the
// message structures and text buffers are placed in the owner's memory.
// Exit code 0 on success, 1 when no window matched or a read failed, 2 on a
// usage error.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <winternl.h>

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
    explicit ProcessHandle(HWND window,
                           DWORD access = PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE) {
        GetWindowThreadProcessId(window, &pid_);
        handle_ = OpenProcess(access, FALSE, pid_);
    }
    ~ProcessHandle() {
        if (handle_) CloseHandle(handle_);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    HANDLE get() const noexcept { return handle_; }
    DWORD pid() const noexcept { return pid_; }

private:
    DWORD pid_ = 0;
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

// --- What a process holds, counted from outside ----------------------------
// The system's own counters (GetProcessHandleCount, GetGuiResources) answer
// 0 under Wine, so each count is taken in a way that works there and on
// Windows alike.

// Kernel handles: every handle value from 4 up, in steps of 4, is offered to
// DuplicateHandle; a value the process does not hold fails with
// ERROR_INVALID_HANDLE, any other answer (a copy, or a refusal to copy that
// kind of object) is a handle in use. Values are handed out lowest first, so
// the probe stops after a long run of free values past the last one in use.
unsigned long CountHandles(HANDLE process) {
    constexpr ULONG_PTR kStep = 4, kGiveUpAfter = 16384 * kStep, kLimit = ULONG_PTR{1} << 26;
    unsigned long count = 0;
    ULONG_PTR lastInUse = 0;
    for (ULONG_PTR value = kStep; value < kLimit && value - lastInUse <= kGiveUpAfter; value += kStep) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
            CloseHandle(copy);
        } else if (GetLastError() == ERROR_INVALID_HANDLE) {
            continue;
        }
        ++count;
        lastInUse = value;
    }
    return count;
}

// One entry of the GDI handle table that the PEB points to
// (GdiSharedHandleTable): 24 bytes on x64, at most 0x10000 entries. A free
// entry has type 0; stock objects carry the stock flag. Windows keeps one
// table for the session and stamps each entry with its owner's process id;
// Wine keeps a table per process and leaves the owner 0.
struct GdiEntry {
    UINT64 object;
    USHORT ownerProcessId;
    USHORT ownerLockAndCount;
    UCHAR extTypeAndStockFlag;   // bits 0-6 type with its extension, bit 7 stock object
    UCHAR generation;
    UCHAR type;
    UCHAR flags;
    UINT64 userPointer;
};
static_assert(sizeof(GdiEntry) == 24, "the x64 layout of a GDI handle table entry");
constexpr std::size_t kGdiEntries = 0x10000;
constexpr SIZE_T kPebGdiSharedHandleTable = 0xF8;   // x64 PEB

using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);

// The GDI objects the process owns, stock objects not counted; false when
// the table cannot be read.
bool CountGdiObjects(HANDLE process, DWORD pid, unsigned long& count) {
    auto query = reinterpret_cast<NtQueryInformationProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 ||
        !basic.PebBaseAddress)
        return false;
    UINT64 table = 0;
    SIZE_T done = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const char*>(basic.PebBaseAddress) + kPebGdiSharedHandleTable,
                           &table, sizeof table, &done) ||
        done != sizeof table || table == 0)
        return false;
    // Read a page-sized run at a time: the end of the table may not be
    // committed, and entries are handed out from the start.
    std::vector<GdiEntry> entries;
    constexpr std::size_t kRun = 4096 / sizeof(GdiEntry) * 16;
    for (std::size_t first = 0; first < kGdiEntries; first += kRun) {
        const std::size_t n = std::min(kRun, kGdiEntries - first);
        std::vector<GdiEntry> run(n);
        if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table + first * sizeof(GdiEntry)), run.data(),
                               n * sizeof(GdiEntry), &done) ||
            done != n * sizeof(GdiEntry))
            break;
        entries.insert(entries.end(), run.begin(), run.end());
    }
    if (entries.empty()) return false;
    const bool stamped = std::any_of(entries.begin(), entries.end(),
                                     [](const GdiEntry& e) { return e.type != 0 && e.ownerProcessId != 0; });
    const auto owner = static_cast<USHORT>(pid);
    count = static_cast<unsigned long>(std::count_if(entries.begin(), entries.end(), [&](const GdiEntry& e) {
        return e.type != 0 && !(e.extTypeAndStockFlag & 0x80) && (!stamped || e.ownerProcessId == owner);
    }));
    return true;
}

// USER objects as the windows of the process: top-level ones, shown or
// hidden, message-only ones, and all their descendants. (Menus, icons and
// cursors are USER objects too but cannot be listed from outside; an icon
// still shows in the GDI count through its bitmaps.)
struct WindowCount {
    DWORD pid;
    unsigned long count;
};

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM param) {
    auto* c = reinterpret_cast<WindowCount*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == c->pid) ++c->count;
    return TRUE;
}

BOOL CALLBACK CountTree(HWND window, LPARAM param) {
    CountOwnWindow(window, param);
    EnumChildWindows(window, CountOwnWindow, param);   // every descendant
    return TRUE;
}

unsigned long CountWindows(DWORD pid) {
    WindowCount c{pid, 0};
    EnumWindows(CountTree, reinterpret_cast<LPARAM>(&c));
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr))
        CountTree(window, reinterpret_cast<LPARAM>(&c));
    return c.count;
}

HWND FindAnyWindow(const std::wstring& title) {
    struct AnySearch {
        const std::wstring* title;
        HWND found;
    } search{&title, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<AnySearch*>(param);
            const int length = GetWindowTextLengthW(window);
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
            if (text != *s->title || ClassOf(window) == L"#32770") return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int ProcessStats(const std::wstring& title) {
    HWND window = FindAnyWindow(title);
    if (!window) return 1;
    const ProcessHandle process(window, PROCESS_DUP_HANDLE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    const DWORD pid = process.pid();
    if (!process.get()) {
        std::fprintf(stderr, "cannot open process %lu (error %lu)\n", pid, GetLastError());
        return 1;
    }
    const unsigned long handles = CountHandles(process.get());
    unsigned long gdi = 0;
    if (!CountGdiObjects(process.get(), pid, gdi)) {
        std::fputs("cannot read the process's GDI handle table\n", stderr);
        return 1;
    }
    std::printf("%lu %lu %lu %lu\n", pid, handles, gdi, CountWindows(pid));
    return 0;
}

// The text of message `id` in language `language` of a program's message
// table, with its inserts left as they are: what Event Viewer shows.
int PrintMessage(const std::wstring& file, const wchar_t* id, const wchar_t* language) {
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return 1;
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                   module, static_cast<DWORD>(std::wcstoul(id, nullptr, 0)),
                                   static_cast<DWORD>(std::wcstoul(language, nullptr, 0)),
                                   reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (n != 0) PrintLine({std::wstring(text, n)});
    LocalFree(text);
    FreeLibrary(module);
    return n != 0 ? 0 : 1;
}

int Usage() {
    std::fputs("usage: corvane_wintool close|find|broadcast|placement|dialogs|dismiss|endsession <text>\n"
               "       corvane_wintool listview|columns|visible|command|text <title> <id>\n"
               "       corvane_wintool ping <title> <count> <pause-ms>\n"
               "       corvane_wintool stats <title>\n"
               "       corvane_wintool standard <program> [<argument>]\n"
               "       corvane_wintool message <file> <id> <language>\n"
               "       corvane_wintool tab <title> [<id>]\n"
               "       corvane_wintool tabrect <title> <index> [<id>]\n",
               stderr);
    return 2;
}

// The program with this process's token less the Administrators group
// (deny-only: it no longer grants, and an access check or
// CheckTokenMembership no longer counts it).
int RunAsStandardUser(const std::wstring& program, const wchar_t* argument) {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) return 1;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize);
    SID_AND_ATTRIBUTES deny{sid, 0};
    HANDLE restricted = nullptr;
    const BOOL made = CreateRestrictedToken(own, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted);
    CloseHandle(own);
    if (!made) return 1;
    std::wstring line = L"\"" + program + L"\"";
    if (argument) line += L" " + std::wstring(argument);
    // The program writes where this tool writes (Wine's traces too).
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    // This tool's own environment, not one made for the token's user.
    wchar_t* environment = GetEnvironmentStringsW();
    const BOOL started = CreateProcessAsUserW(restricted, program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                              CREATE_UNICODE_ENVIRONMENT, environment, nullptr, &startup, &process);
    FreeEnvironmentStringsW(environment);
    CloseHandle(restricted);
    if (!started) return 1;
    std::printf("%lu\n", process.dwProcessId);
    std::fflush(stdout);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
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
    if ((argc == 3 || argc == 4) && command == L"standard") return RunAsStandardUser(text, argc == 4 ? argv[3] : nullptr);
    if (argc == 3 && command == L"parent") {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return 1;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        std::vector<PROCESSENTRY32W> processes;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            processes.push_back(entry);
        CloseHandle(snapshot);
        DWORD parent = 0;
        for (const auto& p : processes)
            if (p.th32ProcessID == GetCurrentProcessId()) parent = p.th32ParentProcessID;
        std::wstring name;
        for (const auto& p : processes)
            if (parent != 0 && p.th32ProcessID == parent) name = p.szExeFile;
        if (name.empty()) return 1;
        std::string id(static_cast<std::size_t>(name.size()) * 3, '\0');
        id.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                                               id.data(), static_cast<int>(id.size()), nullptr, nullptr)));
        // Written whole under another name, then renamed: a reader never sees half.
        const std::wstring partial = text + L".part";
        HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        DWORD written = 0;
        const BOOL ok = WriteFile(file, id.data(), static_cast<DWORD>(id.size()), &written, nullptr);
        CloseHandle(file);
        return ok && MoveFileExW(partial.c_str(), text.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
    }
    if (argc == 3 && command == L"access") {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetNamedSecurityInfoW(text.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
            return 1;
        wchar_t* sddl = nullptr;
        const BOOL converted = ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr);
        LocalFree(descriptor);
        if (!converted) return 1;
        PrintLine({sddl});
        LocalFree(sddl);
        return 0;
    }
    if (argc == 3 && command == L"close") {
        const std::vector<HWND> windows = FindWindows(text);
        for (HWND window : windows) PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        std::printf("%u\n", static_cast<unsigned>(windows.size()));
        return windows.empty() ? 1 : 0;
    }
    if (argc == 3 && command == L"endsession") {
        // As Windows ends a session: asks the window, tells it the answer and
        // ends its process as soon as WM_ENDSESSION returns. Prints the answer.
        for (HWND window : FindWindows(text)) {
            if (ClassOf(window) == L"#32770") continue;
            DWORD_PTR answer = 0, ignored = 0;
            if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer) ||
                !SendMessageTimeoutW(window, WM_ENDSESSION, answer != 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000,
                                     &ignored))
                return 1;
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
                TerminateProcess(process, 1);
                CloseHandle(process);
            }
            std::printf("%u\n", static_cast<unsigned>(answer));
            return 0;
        }
        return 1;
    }
    if (argc == 3 && command == L"find") {
        const std::vector<HWND> windows = FindWindows(text);
        std::printf("%u\n", static_cast<unsigned>(windows.size()));
        return windows.empty() ? 1 : 0;
    }
    if (argc == 3 && command == L"stats") return ProcessStats(text);
    if (argc == 5 && command == L"message") return PrintMessage(text, argv[3], argv[4]);
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
    if (argc == 4 && (command == L"listview" || command == L"columns" || command == L"visible" ||
                      command == L"count")) {
        int id = 0;
        if (!ParseInt(argv[3], id)) return Usage();
        HWND owner = nullptr, control = nullptr;
        if (!FindControl(text, id, owner, control)) return 1;
        if (command == L"visible") {
            std::printf("%d\n", IsWindowVisible(control) ? 1 : 0);
            return 0;
        }
        if (command == L"count") {
            std::printf("%d\n", static_cast<int>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0)));
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
