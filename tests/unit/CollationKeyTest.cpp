// The lookup key of the platform's collation (the host's case folding, or the
// user locale's sort key under Wine) agrees with its equality on every pair
// of a corpus of case, width and script variants: the scans' index finds
// exactly the matches a comparison of each pair would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text/Collation.h"

namespace corvane::test {
namespace {

const std::vector<std::string> kNames = {
    "PC01", "pc01", "Pc01", "PC0l", "ＰＣ０１", "ｐｃ０１", "PC-01", "PC01 ", "", " ",
    "営業", "営業部", "えいぎょう", "エイギョウ", "ｴｲｷﾞｮｳ", "見積書.xlsx", "見積書.XLSX",
    "Straße", "STRASSE", "strasse", "ÀÉÎÕÜ", "àéîõü", "á", "a\u0301", "Σίσυφος", "ΣΊΣΥΦΟΣ",
    "Дмитрий", "ДМИТРИЙ", "İstanbul", "istanbul", "ISTANBUL", "D:\\share\\a.txt", "d:\\SHARE\\A.TXT",
    "D:/share/a.txt", "tanaka", "TANAKA", "ｔａｎａｋａ", "Tanaka", "tanaka2"};

TEST(CollationKey, KeysAreEqualExactlyWhenTheNamesCompareEqual) {
    const text::ICollation& collation = text::PlatformCollation();
    int equalPairs = 0;
    for (const auto& a : kNames) {
        for (const auto& b : kNames) {
            const bool equal = collation.EqualIgnoreCase(a, b);
            equalPairs += equal && a != b;
            EXPECT_EQ(equal, collation.FoldKey(a) == collation.FoldKey(b)) << a << " / " << b;
        }
    }
    EXPECT_GT(equalPairs, 10);  // the corpus holds real case variants
}

TEST(CollationKey, PairKeysKeepTheirTwoNamesApart) {
    const text::ICollation& collation = text::PlatformCollation();
    EXPECT_EQ(text::PairKey(collation, "PC01", "Taro"), text::PairKey(collation, "pc01", "TARO"));
    EXPECT_NE(text::PairKey(collation, "ab", "c"), text::PairKey(collation, "a", "bc"));
    EXPECT_NE(text::PairKey(collation, "PC01", "Taro"), text::PairKey(collation, "Taro", "PC01"));
}

}  // namespace
}  // namespace corvane::test
