#pragma once
// Name comparison. Computer, user and path names are equal regardless of
// letter case under the user's locale; sorting uses the locale's order.
// Windows answers with CompareStringW / lstrcmpW; the host build folds case
// itself so the core can be tested on Linux.
#include <string>
#include <string_view>

namespace corvane::text {

class ICollation {
public:
    virtual ~ICollation() = default;
    virtual bool EqualIgnoreCase(std::string_view a, std::string_view b) const = 0;
    // A key for looking names up: two names have the same key exactly when
    // EqualIgnoreCase finds them equal.
    virtual std::string FoldKey(std::string_view name) const = 0;
    // Locale-aware, case-sensitive order: negative, zero or positive.
    virtual int Compare(std::string_view a, std::string_view b) const = 0;
};

// Unicode simple case folding and code point order. Portable.
class SimpleCollation final : public ICollation {
public:
    bool EqualIgnoreCase(std::string_view a, std::string_view b) const override;
    std::string FoldKey(std::string_view name) const override;
    int Compare(std::string_view a, std::string_view b) const override;
};

// One UTF-16 unit in the letter case SimpleCollation compares in: upper case
// of ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and the full-width
// Latin letters made lower case; everything else as it is.
char16_t FoldCase(char16_t c) noexcept;

// The key of a pair of names (computer and user, path and user): equal for
// two pairs exactly when both of their names are equal regardless of case.
std::string PairKey(const ICollation& collation, std::string_view first, std::string_view second);

// The collation of the platform the program runs on (Windows: the user
// locale's; elsewhere SimpleCollation).
const ICollation& PlatformCollation();

}  // namespace corvane::text
