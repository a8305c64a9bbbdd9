#include "core/views/RowFilter.h"

#include <iterator>

#include "core/text/Collation.h"

namespace corvane::views {
namespace {

// U+FF61 to U+FF9F, the half-width katakana and signs, in full width.
constexpr char16_t kFullWidthKana[] = {
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ', u'ョ', u'ッ', u'ー',
    u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ', u'サ', u'シ', u'ス', u'セ', u'ソ', u'タ',
    u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ', u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ', u'ホ', u'マ', u'ミ',
    u'ム', u'メ', u'モ', u'ヤ', u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ', u'ン', u'゛', u'゜'};
static_assert(std::size(kFullWidthKana) == 0xFF9F - 0xFF61 + 1);

constexpr char16_t kHalfVoicedMark = 0xFF9E, kHalfSemiVoicedMark = 0xFF9F;

// The voiced (or semi-voiced) form of a full-width kana, or 0.
char16_t Voiced(char16_t kana, char16_t mark) {
    const bool hRow = kana == u'ハ' || kana == u'ヒ' || kana == u'フ' || kana == u'ヘ' || kana == u'ホ';
    if (mark == kHalfSemiVoicedMark) return hRow ? static_cast<char16_t>(kana + 2) : 0;
    if (kana == u'ウ') return u'ヴ';
    // カ to ト: each voiced form follows its plain one (ッ, small, has none).
    const bool kToT = kana >= u'カ' && kana <= u'ト' && kana != u'ッ' &&
                      ((kana <= u'チ') ? (kana - u'カ') % 2 == 0 : (kana - u'ツ') % 2 == 0);
    return hRow || kToT ? static_cast<char16_t>(kana + 1) : 0;
}

// Writes the UTF-8 form of `c` (below U+10000) at `out`; returns its end.
char* PutUtf8(char16_t c, char* out) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

bool Continues(unsigned char b) { return (b & 0xC0) == 0x80; }

// The character of the 3-byte sequence at `p` (which has 3 bytes), or 0 when
// they are not one.
char16_t ThreeByte(const unsigned char* p) {
    if (!Continues(p[1]) || !Continues(p[2])) return 0;
    return static_cast<char16_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
}

// The fold of `text` written at `out`, which has room for text.size() bytes
// (the fold never makes a text longer); returns its end. Plain pointer work:
// a keystroke folds every cell of 20,000 rows, in the unoptimised test build
// too.
char* FoldInto(std::string_view text, char* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *out++ = static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
            ++p;
        } else if (b >= 0xC3 && b <= 0xD0 && end - p >= 2 && Continues(p[1])) {
            out = PutUtf8(text::FoldCase(static_cast<char16_t>(((b & 0x1F) << 6) | (p[1] & 0x3F))), out);
            p += 2;
        } else if ((b == 0xE3 || b == 0xEF) && end - p >= 3 && ThreeByte(p) != 0) {
            char16_t c = ThreeByte(p);
            p += 3;
            if (c == 0x3000) {
                c = u' ';
            } else if (c >= 0xFF01 && c <= 0xFF5E) {
                c = text::FoldCase(static_cast<char16_t>(c - 0xFEE0));
            } else if (c >= 0xFF61 && c <= 0xFF9F) {
                c = kFullWidthKana[c - 0xFF61];
                // A voiced mark after it makes one letter with it.
                const char16_t mark = end - p >= 3 && p[0] == 0xEF ? ThreeByte(p) : 0;
                if (const char16_t voiced = (mark == kHalfVoicedMark || mark == kHalfSemiVoicedMark)
                                                ? Voiced(c, mark) : 0) {
                    c = voiced;
                    p += 3;
                }
            }
            out = PutUtf8(c, out);
        } else {
            *out++ = static_cast<char>(b);
            ++p;
        }
    }
    return out;
}

}  // namespace

// The fold works on the UTF-8 bytes and gives UTF-8: most bytes of a name
// (ASCII, kanji, kana) need no decoding. Only lead bytes C3 to D0 (Latin-1 to
// Cyrillic letters), E3 80 80 (the ideographic space) and EF (the full- and
// half-width forms) are looked into; every other byte, a malformed one too,
// is kept as it is.
void AppendFolded(std::string_view text, std::string& out) {
    const std::size_t at = out.size();
    out.resize(at + text.size());
    out.resize(static_cast<std::size_t>(FoldInto(text, out.data() + at) - out.data()));
}

RowFilter::RowFilter(std::string_view typed) { AppendFolded(typed, folded_); }

bool RowFilter::Matches(const std::vector<std::string>& cells) const {
    if (folded_.empty()) return true;
    const std::string_view needle = folded_;
    for (const std::string& text : cells) {
        // Folding never makes a text longer.
        if (text.size() < needle.size()) continue;
        if (scratch_.size() < text.size()) scratch_.resize(text.size() + 64);
        char* begin = scratch_.data();
        const std::string_view folded(begin, static_cast<std::size_t>(FoldInto(text, begin) - begin));
        if (folded.find(needle) != std::string_view::npos) return true;
    }
    return false;
}

bool RowFilter::Narrows(const RowFilter& other) const { return folded_.find(other.folded_) != std::string::npos; }

}  // namespace corvane::views
