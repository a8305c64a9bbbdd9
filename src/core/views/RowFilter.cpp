#include "core/views/RowFilter.h"

#include <algorithm>
#include <iterator>

#include "core/text/Collation.h"
#include "core/text/Text.h"

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

}  // namespace

void AppendFolded(std::string_view text, std::u16string& out) {
    const std::u16string wide = text::Utf8ToUtf16(text);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char16_t c = wide[i];
        if (c >= 0xFF01 && c <= 0xFF5E) {
            c = static_cast<char16_t>(c - 0xFEE0);
        } else if (c == 0x3000) {
            c = u' ';
        } else if (c >= 0xFF61 && c <= 0xFF9F) {
            c = kFullWidthKana[c - 0xFF61];
            if (i + 1 < wide.size() && (wide[i + 1] == kHalfVoicedMark || wide[i + 1] == kHalfSemiVoicedMark)) {
                if (const char16_t voiced = Voiced(c, wide[i + 1])) {
                    c = voiced;
                    ++i;
                }
            }
        }
        out += text::FoldCase(c);
    }
}

RowFilter::RowFilter(std::string_view typed) { AppendFolded(typed, folded_); }

bool RowFilter::Matches(const std::vector<std::string>& cells) const {
    if (folded_.empty()) return true;
    std::u16string cell;
    for (const std::string& text : cells) {
        // Folding never makes a text longer than its UTF-8 bytes.
        if (text.size() < folded_.size()) continue;
        cell.clear();
        AppendFolded(text, cell);
        if (cell.find(folded_) != std::u16string::npos) return true;
    }
    return false;
}

bool RowFilter::Narrows(const RowFilter& other) const {
    return folded_.find(other.folded_) != std::u16string::npos;
}

}  // namespace corvane::views
