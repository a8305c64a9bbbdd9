#pragma once
// The lists' filter: a row is shown when any of its cells contains the typed
// text. Letter case is folded as the name comparison folds it, and so is
// character width, which an input method decides more often than the person:
// full-width Latin letters, digits and signs are their ASCII forms, the
// ideographic space a space, half-width katakana (with their voiced marks)
// the full-width ones.
#include <string>
#include <string_view>
#include <vector>

namespace corvane::views {

// `text` with case and width folded, appended to `out` (UTF-8).
void AppendFolded(std::string_view text, std::string& out);

// One thread at a time: Matches folds the cells into a buffer of its own.
class RowFilter {
public:
    RowFilter() = default;
    explicit RowFilter(std::string_view typed);

    // Nothing typed: every row is shown.
    bool Empty() const noexcept { return folded_.empty(); }
    bool Matches(const std::vector<std::string>& cells) const;
    // True when every row this filter shows is one `other` shows too: the
    // rows to look at after a keystroke that added to the text.
    bool Narrows(const RowFilter& other) const;
    bool SameAs(const RowFilter& other) const noexcept { return folded_ == other.folded_; }

private:
    std::string folded_;
    mutable std::string scratch_;
};

}  // namespace corvane::views
