#pragma once
// Libraries come from the system folder only. corvane.exe runs elevated, and
// Windows looks for a library that is not one of its known ones in the
// program's own folder first: a file planted there would run with
// administrator rights. So the search is narrowed to System32 at start, and
// every library the program loads itself names System32 as its only place.
#include <windows.h>

namespace corvane::win {

// Called first thing in wWinMain: later loads, and the libraries those pull
// in, search System32 only. On a system without the call (Windows 7 without
// its update) the current folder is at least taken out of the search.
void RestrictLibrarySearchToSystem() noexcept;

// LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | extraFlags),
// or the same file by its full path in the system folder where the flag is
// not understood. `name` is a bare file name such as L"winmm.dll".
HMODULE LoadSystemLibrary(const wchar_t* name, DWORD extraFlags = 0) noexcept;

// A function of a system library, the library loaded at the first call and
// kept for the life of the process (a sound played asynchronously, say, may
// outlive its caller). Null when the library or the function is missing.
template <typename Fn>
Fn SystemFunction(const wchar_t* library, const char* name) noexcept {
    HMODULE module = LoadSystemLibrary(library);
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace corvane::win
