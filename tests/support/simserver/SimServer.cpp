// The simulated local server: a stand-in for netapi32.dll that serves the
// sessions and open files the tests put into its state file, records every
// session deletion and message, and counts its calls and buffers. See
// SimServerFormat.h for the files it shares with the tests.
#include <windows.h>
#include <lm.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "support/simserver/SimServerFormat.h"

namespace {

namespace sim = corvane::simserver;

// ---- small RAII helpers -------------------------------------------------

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : handle_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (handle_) CloseHandle(handle_);
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_;
};

// Serialises the file work of every process that loaded a DLL from the same
// folder (the program and a second instance, or a test and the program).
// When the lock cannot be had in time the call fails (ERROR_TIMEOUT) rather
// than touching the shared files unlocked, where counts would be lost.
class FolderLock {
public:
    explicit FolderLock(const std::wstring& name) : mutex_(CreateMutexW(nullptr, FALSE, name.c_str())) {
        if (mutex_) {
            const DWORD wait = WaitForSingleObject(mutex_.get(), 10000);
            owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() {
        if (owned_) ReleaseMutex(mutex_.get());
    }
    bool Held() const noexcept { return owned_; }

private:
    Handle mutex_;
    bool owned_ = false;
};

class SrwGuard {
public:
    explicit SrwGuard(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    SrwGuard(const SrwGuard&) = delete;
    SrwGuard& operator=(const SrwGuard&) = delete;
    ~SrwGuard() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};

// ---- text ---------------------------------------------------------------

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

std::string WideToUtf8(const wchar_t* text, std::size_t length) {
    if (length == 0) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr, nullptr);
    return out;
}

sim::Text ArgText(const wchar_t* text) {
    if (!text) return sim::Text();
    return WideToUtf8(text, wcslen(text));
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// ---- the DLL's folder and its files -------------------------------------

// The folder of `module` (null: the process's program), with its final slash.
std::wstring ModuleFolder(HMODULE module) {
    HMODULE self = module;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Where the state files are: beside the DLL; but a DLL that stands in for the
// system's own (in the system folder, where the program looks for it) keeps
// them beside the program that loaded it, so that each program folder of the
// tests has a server of its own.
std::wstring StateFolder() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&StateFolder), &self);
    const std::wstring dll = ModuleFolder(self);
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring systemFolder = std::wstring(system, length < MAX_PATH ? length : 0) + L"\\";
    return length > 0 && SameName(dll, systemFolder) ? ModuleFolder(nullptr) : dll;
}

struct Folder {
    std::wstring path;
    std::wstring lockName;
};

const Folder& OurFolder() {
    static const Folder folder = [] {
        Folder f;
        f.path = StateFolder();
        std::wstring upper = f.path;
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, f.path.c_str(), static_cast<int>(f.path.size()),
                     upper.data(), static_cast<int>(upper.size()));
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (wchar_t c : upper) {
            hash ^= static_cast<std::uint16_t>(c);
            hash *= 1099511628211ull;
        }
        f.lockName = L"Local\\CorvaneSimServer-";
        for (int shift = 60; shift >= 0; shift -= 4) f.lockName += L"0123456789abcdef"[(hash >> shift) & 0xF];
        return f;
    }();
    return folder;
}

std::wstring FilePath(const char* name) {
    return OurFolder().path + Utf8ToWide(name);
}

bool ReadWholeFile(const std::wstring& path, std::string& out) {
    out.clear();
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char buffer[16384];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) out.append(buffer, read);
    return true;
}

void WriteFileAtomically(const std::wstring& path, const std::string& content) {
    const std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    {
        Handle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
        if (!file) return;
        DWORD written = 0;
        WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    }
    // A reader holding the file open without delete sharing makes the
    // replacement fail for a moment; try again briefly.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
        Sleep(2);
    }
    DeleteFileW(temp.c_str());
}

// One write of the whole line at the end of the file: lines of several
// processes never mix.
void AppendLine(const char* fileName, const std::string& line) {
    Handle file(CreateFileW(FilePath(fileName).c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Callers hold the folder lock.
void Bump(const std::vector<const char*>& names) {
    const std::wstring path = FilePath(sim::kCountersFileName);
    std::string text;
    ReadWholeFile(path, text);
    sim::Counters counters = sim::ParseCounters(text);
    for (const char* name : names) ++counters[name];
    WriteFileAtomically(path, sim::SerializeCounters(counters));
}

// Callers hold the folder lock. A missing file is the default state.
bool LoadState(sim::State& state) {
    std::string text;
    ReadWholeFile(FilePath(sim::kStateFileName), text);
    std::string error;
    if (sim::ParseState(text, state, error)) return true;
    AppendLine(sim::kCallsFileName, std::string(sim::kStateErrorRecord) + "\t" + sim::EscapeField(error));
    Bump({sim::kStateErrors});
    return false;
}

// ---- buffers ------------------------------------------------------------

SRWLOCK g_buffersLock = SRWLOCK_INIT;
std::unordered_set<void*>& Buffers() {
    static std::unordered_set<void*> buffers;
    return buffers;
}

// One block per call like the real server: the records, then their texts.
class BufferBuilder {
public:
    BufferBuilder(std::size_t recordSize, std::size_t count, const std::vector<sim::Text>& texts)
        : recordsSize_(recordSize * count) {
        std::size_t textChars = 1;  // a shared empty string
        wide_.reserve(texts.size());
        for (const sim::Text& t : texts) {
            wide_.push_back(t ? Utf8ToWide(*t) : std::wstring());
            textChars += wide_.back().size() + 1;
        }
        const std::size_t size = std::max<std::size_t>(recordsSize_ + textChars * sizeof(wchar_t), 1);
        block_ = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
        next_ = reinterpret_cast<wchar_t*>(block_ + recordsSize_);
        empty_ = next_++;
    }
    BYTE* Block() const { return block_; }
    wchar_t* Empty() const { return empty_; }
    // The i-th text, copied into the block; null for a null text.
    wchar_t* Text(const std::vector<sim::Text>& texts, std::size_t i) {
        if (!texts[i]) return nullptr;
        wchar_t* out = next_;
        std::memcpy(out, wide_[i].c_str(), (wide_[i].size() + 1) * sizeof(wchar_t));
        next_ += wide_[i].size() + 1;
        return out;
    }

private:
    std::size_t recordsSize_;
    std::vector<std::wstring> wide_;
    BYTE* block_ = nullptr;
    wchar_t* next_ = nullptr;
    wchar_t* empty_ = nullptr;
};

void HandOut(BYTE* block) {
    SrwGuard guard(g_buffersLock);
    Buffers().insert(block);
}

template <typename Record, typename Item, typename Fill>
NET_API_STATUS Enumerate(const std::vector<Item>& items, std::vector<sim::Text> texts, DWORD status,
                         bool bufferOnFailure, LPBYTE* bufptr, LPDWORD entriesread, LPDWORD totalentries,
                         std::vector<const char*>& counters, Fill fill) {
    if (status != NERR_Success && !bufferOnFailure) return status;  // like Wine: outputs left as they are
    BufferBuilder builder(sizeof(Record), items.size(), texts);
    if (!builder.Block()) return ERROR_NOT_ENOUGH_MEMORY;
    auto* records = reinterpret_cast<Record*>(builder.Block());
    for (std::size_t i = 0; i < items.size(); ++i) fill(records[i], items[i], builder, texts, i);
    HandOut(builder.Block());
    counters.push_back(sim::kBuffersAllocated);
    *bufptr = builder.Block();
    if (entriesread) *entriesread = static_cast<DWORD>(items.size());
    if (totalentries) *totalentries = static_cast<DWORD>(items.size());
    return status;
}

}  // namespace

// ---- the exported functions ---------------------------------------------

extern "C" {

NET_API_STATUS NET_API_FUNCTION NetSessionEnum(LMSTR servername, LMSTR UncClientName, LMSTR username,
                                               DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                               LPDWORD entriesread, LPDWORD totalentries,
                                               LPDWORD resume_handle) {
    FolderLock lock(OurFolder().lockName);
    if (!lock.Held()) return ERROR_TIMEOUT;
    const bool odd = servername || UncClientName || username || level != 502 ||
                     prefmaxlen != MAX_PREFERRED_LENGTH || resume_handle;
    // One rewrite of the counters per call, whatever it returns.
    std::vector<const char*> counters{sim::kSessionEnums};
    if (odd) counters.push_back(sim::kSessionEnumOddArgs);
    struct Flush {
        std::vector<const char*>& names;
        ~Flush() { Bump(names); }
    } flush{counters};
    if (level != 502) return ERROR_INVALID_LEVEL;
    if (!bufptr || !entriesread || !totalentries) return ERROR_INVALID_PARAMETER;

    sim::State state;
    if (!LoadState(state)) return ERROR_INVALID_DATA;
    std::vector<sim::Text> texts;
    for (const sim::Session& s : state.sessions) {
        texts.push_back(s.computer);
        texts.push_back(s.user);
    }
    return Enumerate<SESSION_INFO_502>(
        state.sessions, texts, state.sessionStatus, state.bufferOnFailure, bufptr, entriesread,
        totalentries, counters,
        [](SESSION_INFO_502& r, const sim::Session& s, BufferBuilder& b, const std::vector<sim::Text>& t,
           std::size_t i) {
            r.sesi502_cname = b.Text(t, 2 * i);
            r.sesi502_username = b.Text(t, 2 * i + 1);
            r.sesi502_num_opens = s.opens;
            r.sesi502_time = s.seconds;
            r.sesi502_idle_time = s.idleSeconds;
            r.sesi502_user_flags = 0;
            r.sesi502_cltype_name = b.Empty();
            r.sesi502_transport = b.Empty();
        });
}

NET_API_STATUS NET_API_FUNCTION NetFileEnum(LMSTR servername, LMSTR basepath, LMSTR username, DWORD level,
                                            LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                                            LPDWORD totalentries, PDWORD_PTR resume_handle) {
    FolderLock lock(OurFolder().lockName);
    if (!lock.Held()) return ERROR_TIMEOUT;
    const bool odd =
        servername || basepath || username || level != 3 || prefmaxlen != MAX_PREFERRED_LENGTH || resume_handle;
    // One rewrite of the counters per call, whatever it returns.
    std::vector<const char*> counters{sim::kFileEnums};
    if (odd) counters.push_back(sim::kFileEnumOddArgs);
    struct Flush {
        std::vector<const char*>& names;
        ~Flush() { Bump(names); }
    } flush{counters};
    if (level != 3) return ERROR_INVALID_LEVEL;
    if (!bufptr || !entriesread || !totalentries) return ERROR_INVALID_PARAMETER;

    sim::State state;
    if (!LoadState(state)) return ERROR_INVALID_DATA;
    std::vector<sim::Text> texts;
    for (const sim::File& f : state.files) {
        texts.push_back(f.path);
        texts.push_back(f.user);
    }
    return Enumerate<FILE_INFO_3>(
        state.files, texts, state.fileStatus, state.bufferOnFailure, bufptr, entriesread,
        totalentries, counters,
        [](FILE_INFO_3& r, const sim::File& f, BufferBuilder& b, const std::vector<sim::Text>& t,
           std::size_t i) {
            r.fi3_id = f.id;
            r.fi3_permissions = f.permissions;
            r.fi3_num_locks = f.locks;
            r.fi3_pathname = b.Text(t, 2 * i);
            r.fi3_username = b.Text(t, 2 * i + 1);
        });
}

NET_API_STATUS NET_API_FUNCTION NetApiBufferFree(LPVOID Buffer) {
    FolderLock lock(OurFolder().lockName);
    if (!lock.Held()) return ERROR_TIMEOUT;
    if (!Buffer) {
        Bump({sim::kNullFrees});
        return NERR_Success;
    }
    bool known = false;
    {
        SrwGuard guard(g_buffersLock);
        known = Buffers().erase(Buffer) == 1;
    }
    if (!known) {
        Bump({sim::kBadFrees});
        return ERROR_INVALID_PARAMETER;
    }
    HeapFree(GetProcessHeap(), 0, Buffer);
    Bump({sim::kBuffersFreed});
    return NERR_Success;
}

NET_API_STATUS NET_API_FUNCTION NetSessionDel(LMSTR servername, LMSTR UncClientName, LMSTR username) {
    FolderLock lock(OurFolder().lockName);
    if (!lock.Held()) return ERROR_TIMEOUT;
    sim::State state;
    const bool loaded = LoadState(state);

    std::wstring client = UncClientName ? UncClientName : L"";
    if (client.rfind(L"\\\\", 0) == 0) client.erase(0, 2);
    auto matches = [&](const sim::Session& s) {
        return UncClientName && s.computer && SameName(Utf8ToWide(*s.computer), client) &&
               (!username || (s.user && SameName(Utf8ToWide(*s.user), username)));
    };
    const bool found = loaded && std::any_of(state.sessions.begin(), state.sessions.end(), matches);
    NET_API_STATUS status = state.sessionDelStatus;
    if (status == NERR_Success && !found) status = NERR_ClientNameNotFound;
    if (status == NERR_Success && state.deleteRemovesSession) {
        state.sessions.erase(std::remove_if(state.sessions.begin(), state.sessions.end(), matches),
                             state.sessions.end());
        WriteFileAtomically(FilePath(sim::kStateFileName), sim::SerializeState(state));
    }
    AppendLine(sim::kCallsFileName, std::string(sim::kSessionDelCall) + "\t" + sim::EncodeField(ArgText(servername)) + "\t" +
               sim::EncodeField(ArgText(UncClientName)) + "\t" + sim::EncodeField(ArgText(username)) + "\t" +
               std::to_string(status));
    Bump({sim::kSessionDels});
    return status;
}

// What one open file id names now (level 3), from the same state as the
// listing; an id that is not listed answers NERR_FileIdNotFound.
NET_API_STATUS NET_API_FUNCTION NetFileGetInfo(LMSTR servername, DWORD fileid, DWORD level, LPBYTE* bufptr) {
    FolderLock lock(OurFolder().lockName);
    if (!lock.Held()) return ERROR_TIMEOUT;
    if (level != 3) return ERROR_INVALID_LEVEL;
    if (!bufptr) return ERROR_INVALID_PARAMETER;
    (void)servername;
    sim::State state;
    if (!LoadState(state)) return ERROR_INVALID_DATA;
    const auto found = std::find_if(state.files.begin(), state.files.end(),
                                    [&](const sim::File& f) { return f.id == fileid; });
    if (found == state.files.end()) return NERR_FileIdNotFound;
    std::vector<const char*> counters;
    const NET_API_STATUS status = Enumerate<FILE_INFO_3>(
        std::vector<sim::File>{*found}, {found->path, found->user}, NERR_Success, false, bufptr, nullptr, nullptr,
        counters, [](FILE_INFO_3& r, const sim::File& f, BufferBuilder& b, const std::vector<sim::Text>& t, std::size_t) {
            r.fi3_id = f.id;
            r.fi3_permissions = f.permissions;
            r.fi3_num_locks = f.locks;
            r.fi3_pathname = b.Text(t, 0);
            r.fi3_username = b.Text(t, 1);
        });
    if (!counters.empty()) Bump(counters);
    return status;
}

// Closes one open file by its id: the file leaves the listing. An id that is
// not listed (closed already, or never opened) answers NERR_FileIdNotFound,
// as the real server does.
NET_API_STATUS NET_API_FUNCTION NetFileClose(LMSTR servername, DWORD fileid) {
    FolderLock lock(OurFolder().lockName);
    if (!lock.Held()) return ERROR_TIMEOUT;
    sim::State state;
    const bool loaded = LoadState(state);
    auto matches = [&](const sim::File& f) { return f.id == fileid; };
    NET_API_STATUS status = NERR_FileIdNotFound;
    if (loaded && std::any_of(state.files.begin(), state.files.end(), matches)) {
        state.files.erase(std::remove_if(state.files.begin(), state.files.end(), matches), state.files.end());
        WriteFileAtomically(FilePath(sim::kStateFileName), sim::SerializeState(state));
        status = NERR_Success;
    }
    AppendLine(sim::kCallsFileName, std::string(sim::kFileCloseCall) + "\t" + sim::EncodeField(ArgText(servername)) +
               "\t" + std::to_string(fileid) + "\t" + std::to_string(status));
    Bump({sim::kFileCloses});
    return status;
}

NET_API_STATUS NET_API_FUNCTION NetMessageBufferSend(LPCWSTR servername, LPCWSTR msgname, LPCWSTR fromname,
                                                     LPBYTE buf, DWORD buflen) {
    FolderLock lock(OurFolder().lockName);
    if (!lock.Held()) return ERROR_TIMEOUT;
    sim::State state;
    LoadState(state);
    // The text is exactly `buflen` bytes of UTF-16; no terminator is looked for.
    const std::string text =
        buf ? WideToUtf8(reinterpret_cast<const wchar_t*>(buf), buflen / sizeof(wchar_t)) : std::string();
    const NET_API_STATUS status = !buf && buflen ? ERROR_INVALID_PARAMETER : state.messageSendStatus;
    AppendLine(sim::kCallsFileName, std::string(sim::kMessageSendCall) + "\t" + sim::EncodeField(ArgText(servername)) + "\t" +
               sim::EncodeField(ArgText(msgname)) + "\t" + sim::EncodeField(ArgText(fromname)) + "\t" +
               sim::EncodeField(buf ? sim::Text(text) : sim::Text()) + "\t" + std::to_string(buflen) + "\t" +
               std::to_string(status));
    Bump({sim::kMessageSends});
    return status;
}

// Runs under the loader lock: it waits for no one. Each load and release is
// one appended line, which needs no lock.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    // Process-exit detaches are not counted: other threads may have died
    // holding locks by then.
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        AppendLine(sim::kLifetimeFileName, sim::kLoads);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        AppendLine(sim::kLifetimeFileName, sim::kUnloads);
    }
    return TRUE;
}

}  // extern "C"
