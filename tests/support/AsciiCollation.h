#pragma once
// ASCII case folding and byte order: enough for the row operations' tests.
#include <string>
#include <string_view>

#include "core/text/Collation.h"

namespace corvane::testing {

class AsciiCollation final : public text::ICollation {
public:
    bool EqualIgnoreCase(std::string_view a, std::string_view b) const override;
    std::string FoldKey(std::string_view name) const override;
    int Compare(std::string_view a, std::string_view b) const override;
};

}  // namespace corvane::testing
