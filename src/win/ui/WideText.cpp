#include <string>

#include "core/text/Text.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

std::wstring Wide(std::string_view utf8) {
    const std::u16string u16 = text::Utf8ToUtf16(utf8);
    return std::wstring(u16.begin(), u16.end());
}

std::string Narrow(std::wstring_view wide) {
    return text::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace corvane::win
