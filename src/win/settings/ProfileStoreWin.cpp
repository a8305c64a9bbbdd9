#include "win/settings/ProfileStoreWin.h"

#include <windows.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "core/text/Text.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

std::string ProfileStoreWin::ReadString(const std::string& section, const std::string& key) {
    wchar_t buffer[kMaxProfileStringLength + 1] = {};
    const DWORD length = GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), L"", buffer,
                                                  static_cast<DWORD>(std::size(buffer)), Wide(path_).c_str());
    return text::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
}

namespace {

// The code of a profile write that failed; one is always given, even when the
// system left none.
std::uint32_t WriteResult(BOOL written) {
    if (written) return 0;
    const DWORD code = GetLastError();
    return code != ERROR_SUCCESS ? code : ERROR_WRITE_FAULT;
}

}  // namespace

std::uint32_t ProfileStoreWin::WriteString(const std::string& section, const std::string& key,
                                           const std::string& value) {
    return WriteResult(WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(),
                                                  Wide(value).c_str(), Wide(path_).c_str()));
}

bool ProfileStoreWin::ReadStruct(const std::string& section, const std::string& key, void* buffer,
                                 std::size_t size) {
    // The function may fill part of the buffer before it finds the value bad.
    std::vector<unsigned char> scratch(size);
    if (!GetPrivateProfileStructW(Wide(section).c_str(), Wide(key).c_str(), scratch.data(),
                                  static_cast<UINT>(size), Wide(path_).c_str())) {
        return false;
    }
    std::memcpy(buffer, scratch.data(), size);
    return true;
}

std::uint32_t ProfileStoreWin::WriteStruct(const std::string& section, const std::string& key,
                                           const void* data, std::size_t size) {
    return WriteResult(WritePrivateProfileStructW(Wide(section).c_str(), Wide(key).c_str(),
                                                  const_cast<void*>(data), static_cast<UINT>(size),
                                                  Wide(path_).c_str()));
}

}  // namespace corvane::win
