#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/views/ListExport.h"
#include "core/views/RowFilter.h"

namespace corvane::views {
namespace {

using Cells = std::vector<std::string>;

TEST(ListFilter, ARowIsShownWhenAnyCellContainsTheTextCaseAndWidthAside) {
    const struct {
        const char* typed;
        Cells cells;
        bool shown;
    } cases[] = {
        {"", {}, true},
        {"", {"PC01", "taro"}, true},
        {"mitsumori.XLSX", {"taro", "D:\\share\\Mitsumori.xlsx"}, true},
        {"taro", {"PC01", "10.0.0.1", "TARO", "1"}, true},              // any column
        {"見積書", {"taro", "D:\\share\\見積.xlsx"}, false},
        {"ab", {"a", "b"}, false},                                     // never across cells
        {"abc", {"ab"}, false},
        {"ＭＩＴＳＵ１", {"mitsu1.txt"}, true},                        // full-width Latin and digits
        {"mitsu1", {"ｍｉｔｓｕ１.txt"}, true},
        {"報告　書", {"報告 書.txt"}, true},                            // ideographic space
        {"ｶﾞｲﾄﾞ", {"ガイド.docx"}, true},                             // half-width kana, voiced marks
        {"パス", {"ﾊﾟｽ.txt"}, true},
        {"ヴ", {"ｳﾞｨ"}, true},
        {"ｶ", {"ｶﾞ"}, false},                                         // a voiced letter is another letter
        {"ÄΣЖ", {"äσж"}, true},                                       // the name comparison's letter case
        {"01:02", {"PC01", "1 d. 01:02:03"}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(RowFilter(c.typed).Matches(c.cells), c.shown) << c.typed;
}

TEST(ListExport, CellsStayTextAndQuotedWhereTheSeparatorOrALineBreakIsInThem) {
    const struct {
        Cells cells;
        char separator;
        const char* line;
    } cases[] = {
        {{"taro", "D:\\share\\a.xlsx"}, ',', "taro,D:\\share\\a.xlsx\r\n"},
        {{"=HYPERLINK(\"http://x.invalid\",\"a\")"}, ',', "\"'=HYPERLINK(\"\"http://x.invalid\"\",\"\"a\"\")\"\r\n"},
        {{"+1", "-1", "@SUM(A1)", "x=1", ""}, ',', "'+1,'-1,'@SUM(A1),x=1,\r\n"},
        {{"\tx", "\rx"}, ',', "'\tx,\"'\rx\"\r\n"},
        {{"\tx", "a,b"}, '\t', "\"'\tx\"\ta,b\r\n"},
        {{"D:\\a,\"b\"\r\nc.txt", "1 d. 01:02:03"}, ',', "\"D:\\a,\"\"b\"\"\r\nc.txt\",1 d. 01:02:03\r\n"},
        {{"a\nb", "\"q\""}, '\t', "\"a\nb\"\t\"\"\"q\"\"\"\r\n"},
    };
    for (const auto& c : cases) {
        std::string line;
        AppendExportLine(line, c.cells, c.separator);
        EXPECT_EQ(line, c.line);
    }
}

}  // namespace
}  // namespace corvane::views
