#include "core/text/Collation.h"

#include <algorithm>

#include "core/text/Text.h"

namespace corvane::text {
// Simple case folding for the scripts that computer and user names use:
// ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and the full-width forms.
char16_t FoldCase(char16_t c) noexcept {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if (c < 0x80) return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x178 && c != 0x17F) {
        const bool evenIsUpper = (c < 0x139) || (c > 0x148 && c < 0x179);
        if (evenIsUpper ? (c % 2 == 0) : (c % 2 == 1)) return static_cast<char16_t>(c + 1);
        return c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
    return c;
}

bool SimpleCollation::EqualIgnoreCase(std::string_view a, std::string_view b) const {
    const std::u16string wa = Utf8ToUtf16(a), wb = Utf8ToUtf16(b);
    return wa.size() == wb.size() &&
           std::equal(wa.begin(), wa.end(), wb.begin(), [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

std::string SimpleCollation::FoldKey(std::string_view name) const {
    const std::u16string wide = Utf8ToUtf16(name);
    std::string key;
    key.reserve(wide.size() * 2);
    for (char16_t c : wide) {
        const char16_t folded = FoldCase(c);
        key += static_cast<char>(folded & 0xFF);
        key += static_cast<char>(folded >> 8);
    }
    return key;
}

std::string PairKey(const ICollation& collation, std::string_view first, std::string_view second) {
    // The first key's length in front keeps ("ab", "c") apart from ("a", "bc").
    std::string key = collation.FoldKey(first);
    const std::size_t length = key.size();
    std::string pair(4, '\0');
    for (int i = 0; i < 4; ++i) pair[static_cast<std::size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xFF);
    pair += key;
    pair += collation.FoldKey(second);
    return pair;
}

int SimpleCollation::Compare(std::string_view a, std::string_view b) const {
    // UTF-8 byte order is code point order.
    const int r = a.compare(b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

}  // namespace corvane::text
