#include "win/watch/SystemMessage.h"

#include <windows.h>

#include "win/security/SystemLibrary.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

constexpr DWORD kNetworkErrorBase = 2100;  // NERR_BASE
constexpr DWORD kNetworkErrorMax = 2999;   // MAX_NERR

std::wstring Format(DWORD flags, HMODULE module, DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, module, code, 0,
                       reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", buffer ? length : 0);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return text;
}

}  // namespace

std::string SystemMessageText(std::uint32_t code) {
    std::wstring text;
    if (code >= kNetworkErrorBase && code <= kNetworkErrorMax) {
        UniqueModule messages(LoadSystemLibrary(L"netmsg.dll", LOAD_LIBRARY_AS_DATAFILE));
        if (messages) text = Format(FORMAT_MESSAGE_FROM_HMODULE, messages.get(), code);
    }
    if (text.empty()) text = Format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    return Narrow(text);
}

}  // namespace corvane::win
