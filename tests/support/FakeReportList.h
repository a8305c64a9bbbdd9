#pragma once
// An in-memory report list for the core tests. Its caption search behaves like
// a list view's: whole caption, ASCII letters regardless of case, forward from
// a row number, no wrap. Every cell write is counted.
#include <string>
#include <string_view>
#include <vector>

#include "core/text/Collation.h"
#include "core/views/ReportList.h"

namespace corvane::testing {

class FakeReportList final : public views::IReportList {
public:
    struct Row {
        int Image = -1;
        std::vector<std::string> Cells;  // [0] is the caption
    };

    int RowCount() const override;
    int FindCaption(const std::string& caption, int fromRow) const override;
    std::string CellText(int row, int cell) const override;
    void SetCellText(int row, int cell, const std::string& text) override;
    int AppendRow(int imageIndex, const std::string& caption,
                  const std::vector<std::string>& subItems) override;
    void DeleteRow(int row) override;
    void DeleteAllRows() override;
    void Sort(const RowComparison& compare) override;

    const std::vector<Row>& Rows() const { return rows_; }
    // Column `cell` of every row, top to bottom.
    std::vector<std::string> Column(int cell) const;

    int CellWrites = 0;  // SetCellText calls
    int Appends = 0;

private:
    std::vector<Row> rows_;
};

// ASCII case folding and byte order: enough for the row operations' tests.
class AsciiCollation final : public text::ICollation {
public:
    bool EqualIgnoreCase(std::string_view a, std::string_view b) const override;
    std::string FoldKey(std::string_view name) const override;
    int Compare(std::string_view a, std::string_view b) const override;
};

}  // namespace corvane::testing
