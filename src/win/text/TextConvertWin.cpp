// Code page 932 conversions and collation with the system's own functions.
#include <windows.h>

#include "core/text/Collation.h"
#include "core/text/Text.h"

namespace corvane::text {
namespace {

constexpr UINT kCp932 = 932;

std::wstring Wide(std::string_view utf8) {
    const std::u16string u16 = Utf8ToUtf16(utf8);
    return std::wstring(u16.begin(), u16.end());
}

class WindowsCollation final : public ICollation {
public:
    bool EqualIgnoreCase(std::string_view a, std::string_view b) const override {
        const std::wstring wa = Wide(a), wb = Wide(b);
        return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wa.c_str(), static_cast<int>(wa.size()),
                              wb.c_str(), static_cast<int>(wb.size())) == CSTR_EQUAL;
    }
    // The sort key under the same flags: CompareStringW finds two texts equal
    // exactly when their sort keys are equal.
    std::string FoldKey(std::string_view name) const override {
        const std::wstring wide = Wide(name);
        const wchar_t* source = wide.empty() ? L"" : wide.c_str();
        const int sourceLength = wide.empty() ? -1 : static_cast<int>(wide.size());
        const int size = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, source, sourceLength,
                                      nullptr, 0);
        if (size > 0) {
            std::string key(static_cast<std::size_t>(size), '\0');
            if (LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, source, sourceLength,
                             reinterpret_cast<wchar_t*>(key.data()), size) == size)
                return key;
        }
        // No sort key to be had: the exact text, marked so it cannot meet one.
        return "\xFF" + std::string(name);
    }
    int Compare(std::string_view a, std::string_view b) const override {
        return lstrcmpW(Wide(a).c_str(), Wide(b).c_str());
    }
};

}  // namespace

std::string Utf8ToCp932(std::string_view utf8) {
    // The code page has no character beyond the basic plane: such a character
    // becomes one '?', as on the host, not one for each half of its pair.
    std::wstring wide = Wide(utf8);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const bool pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1]);
        wide[kept++] = pair ? L'?' : wide[i];
        if (pair) ++i;
    }
    wide.resize(kept);
    if (wide.empty()) return {};
    const int len = WideCharToMultiByte(kCp932, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(len), '\0');
    WideCharToMultiByte(kCp932, 0, wide.data(), static_cast<int>(wide.size()), out.data(), len, nullptr, nullptr);
    return out;
}

std::string Cp932ToUtf8(std::string_view cp932) {
    if (cp932.empty()) return {};
    const int len = MultiByteToWideChar(kCp932, 0, cp932.data(), static_cast<int>(cp932.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(len), L'\0');
    MultiByteToWideChar(kCp932, 0, cp932.data(), static_cast<int>(cp932.size()), wide.data(), len);
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

const ICollation& PlatformCollation() {
    static const WindowsCollation collation;
    return collation;
}

}  // namespace corvane::text
