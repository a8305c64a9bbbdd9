#include "win/tray/TrayShell.h"

#include <shlwapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "win/security/SystemLibrary.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

// A decimal number filling the whole text, or -1.
int ParseDecimal(const std::wstring& text) {
    if (text.empty()) return -1;
    int value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return -1;
        value = value * 10 + (c - L'0');
    }
    return value;
}

// version.dll's functions, taken from the system folder at first use rather
// than imported (an import would be looked for beside the program first).
struct VersionFunctions {
    using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    SizeFn size = SystemFunction<SizeFn>(L"version.dll", "GetFileVersionInfoSizeW");
    InfoFn info = SystemFunction<InfoFn>(L"version.dll", "GetFileVersionInfoW");
    QueryFn query = SystemFunction<QueryFn>(L"version.dll", "VerQueryValueW");
};

// "FileVersion" of shell32.dll's version resource: the first character is the
// major number, the third and fourth the minor one.
DWORD FileVersion(const std::wstring& path) {
    static const VersionFunctions api;
    if (!api.size || !api.info || !api.query) return 0;
    DWORD ignored = 0;
    const DWORD size = api.size(path.c_str(), &ignored);
    if (size == 0) return 0;
    std::vector<BYTE> info(size);
    if (!api.info(path.c_str(), 0, size, info.data())) return 0;
    struct LangCodePage {
        WORD language;
        WORD codePage;
    };
    LangCodePage* translation = nullptr;
    UINT length = 0;
    if (!api.query(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < sizeof(LangCodePage))
        return 0;
    wchar_t query[64];
    swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", translation->language,
             translation->codePage);
    wchar_t* version = nullptr;
    if (!api.query(info.data(), query, reinterpret_cast<void**>(&version), &length) || !version) return 0;
    const std::wstring text(version);
    if (text.size() < 4) return 0;
    const int major = ParseDecimal(text.substr(0, 1));
    const int minor = ParseDecimal(text.substr(2, 2));
    if (major < 0 || minor < 0) return 0;
    return static_cast<DWORD>(major) * 65536u + static_cast<DWORD>(minor);
}

}  // namespace

bool ShellNotifyWin::Notify(DWORD message, NOTIFYICONDATAW& data, DWORD& lastError) {
    SetLastError(0);
    const bool ok = Shell_NotifyIconW(message, &data) != FALSE;
    lastError = ok ? 0 : GetLastError();
    return ok;
}

DWORD FindShellVersion() {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring path = std::wstring(system) + L"\\shell32.dll";
    DWORD version = FileVersion(path);

    const UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    UniqueModule shell(LoadSystemLibrary(L"shell32.dll"));
    SetErrorMode(oldMode);
    if (!shell) return version;
    using DllGetVersionFn = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
    auto getVersion = reinterpret_cast<DllGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(shell.get(), "DllGetVersion")));
    if (!getVersion) return FileVersion(path);
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;  // 20 bytes
    if (SUCCEEDED(getVersion(&info))) version = info.dwMajorVersion * 65536u + (info.dwMinorVersion & 0xFFFFu);
    return version;
}

}  // namespace corvane::win
