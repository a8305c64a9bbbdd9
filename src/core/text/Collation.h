#pragma once
// Name comparison. Computer, user and path names are equal regardless of
// letter case under the user's locale; sorting uses the locale's order.
// Windows answers with CompareStringW / lstrcmpW; the host build folds case
// itself so the core can be tested on Linux.
#include <string_view>

namespace corvane::text {

class ICollation {
public:
    virtual ~ICollation() = default;
    virtual bool EqualIgnoreCase(std::string_view a, std::string_view b) const = 0;
    // Locale-aware, case-sensitive order: negative, zero or positive.
    virtual int Compare(std::string_view a, std::string_view b) const = 0;
};

// Unicode simple case folding and code point order. Portable.
class SimpleCollation final : public ICollation {
public:
    bool EqualIgnoreCase(std::string_view a, std::string_view b) const override;
    int Compare(std::string_view a, std::string_view b) const override;
};

// The collation of the platform the program runs on (Windows: the user
// locale's; elsewhere SimpleCollation).
const ICollation& PlatformCollation();

}  // namespace corvane::text
