#pragma once
// A report-mode list of text rows, as the row operations see a list view.
// Cells are numbered like the list's columns: cell 0 is the row's caption,
// cell k is sub item k - 1. Rows are numbered from 0 in display order.
#include <functional>
#include <string>
#include <vector>

namespace corvane::views {

class IReportList {
public:
    virtual ~IReportList() = default;

    virtual int RowCount() const = 0;

    // The list's own item search: the first row at or after `fromRow` whose
    // whole caption equals `caption` regardless of letter case; -1 when there
    // is none. The search does not wrap past the last row.
    virtual int FindCaption(const std::string& caption, int fromRow) const = 0;

    // Empty when the row or cell does not exist.
    virtual std::string CellText(int row, int cell) const = 0;
    virtual void SetCellText(int row, int cell, const std::string& text) = 0;

    // Appends a row after the last one and returns its number.
    virtual int AppendRow(int imageIndex, const std::string& caption,
                          const std::vector<std::string>& subItems) = 0;

    virtual void DeleteRow(int row) = 0;
    virtual void DeleteAllRows() = 0;

    // Orders the rows once, ascending by `compare` (negative: the first row
    // goes first). `compare` gets row numbers of the list as it was before the
    // sort and may read their cells; it must not change the list. Rows that
    // compare equal may end up in either order.
    using RowComparison = std::function<int(int rowA, int rowB)>;
    virtual void Sort(const RowComparison& compare) = 0;
};

}  // namespace corvane::views
