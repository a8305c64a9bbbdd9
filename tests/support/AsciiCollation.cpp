#include "support/AsciiCollation.h"

#include <algorithm>

namespace corvane::testing {

namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool AsciiCollation::EqualIgnoreCase(std::string_view a, std::string_view b) const {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Fold(x) == Fold(y); });
}

std::string AsciiCollation::FoldKey(std::string_view name) const {
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(), Fold);
    return key;
}

int AsciiCollation::Compare(std::string_view a, std::string_view b) const {
    const int result = a.compare(b);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

}  // namespace corvane::testing
