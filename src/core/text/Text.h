#pragma once
// Text at the program's edges. Inside the program text is UTF-8 in std::string;
// Win32 wants UTF-16, the event log and the INI file want code page 932.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::text {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Code page 932 (Shift-JIS). Characters it cannot hold become '?'.
std::string Utf8ToCp932(std::string_view utf8);
std::string Cp932ToUtf8(std::string_view cp932);

// Length of the text in code page 932 bytes.
std::size_t Cp932Length(std::string_view utf8);

// The longest prefix of `utf8` whose code page 932 form has at most maxBytes
// bytes, never splitting a double-byte character. Returned as UTF-8.
std::string CutToCp932Bytes(std::string_view utf8, std::size_t maxBytes);

// Integer syntax of the settings file: leading spaces, an optional sign, then
// decimal digits or hexadecimal digits after $, x, X, 0x or 0X. Anything else,
// or a value outside the signed 32-bit range, is nullopt.
std::optional<int> ParseInt32(std::string_view text);

}  // namespace corvane::text
