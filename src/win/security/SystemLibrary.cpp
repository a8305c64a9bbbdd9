#include "win/security/SystemLibrary.h"

#include <string>

namespace corvane::win {

void RestrictLibrarySearchToSystem() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto restrict = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                       GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                 : nullptr;
    if (!restrict || !restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name, DWORD extraFlags) noexcept {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | extraFlags);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // The flag is unknown here: the full path keeps the search out of it.
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    try {
        const std::wstring path = std::wstring(system) + L"\\" + name;
        return LoadLibraryExW(path.c_str(), nullptr, extraFlags);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace corvane::win
