#pragma once
// The rows of a RowTable that a list shows: all of them, or those its filter
// lets through, in the table's order. Stands between the table and the list:
// it is the table's view, and tells its own view of the changes in the
// numbers of the shown rows. A row added, changed, removed or reordered in
// the table costs what it costs the table, plus one look at that row; a new
// filter text looks at every row once (at the shown ones only, when a key
// added to the text).
#include <string>
#include <string_view>
#include <vector>

#include "core/views/RowFilter.h"
#include "core/views/RowTable.h"

namespace corvane::views {

class ShownRows final : public IRowsView {
public:
    // Becomes the table's view until it is destroyed. The table is borrowed.
    explicit ShownRows(RowTable& table);
    ~ShownRows() override;
    ShownRows(const ShownRows&) = delete;
    ShownRows& operator=(const ShownRows&) = delete;

    // The one view told of changes of the shown rows, or null. Borrowed.
    // Besides the table's kinds of change it may be told RowsReordered with
    // rows left out (no longer shown) and -1 (a row shown anew).
    void SetView(IRowsView* view) noexcept { view_ = view; }

    // Shows the rows whose any cell contains `typed` (RowFilter's rule).
    void SetFilter(std::string_view typed);
    const std::string& FilterText() const noexcept { return typed_; }

    int Count() const noexcept { return static_cast<int>(shown_.size()); }
    int TotalCount() const noexcept { return table_.Count(); }
    int ColumnCount() const noexcept { return table_.ColumnCount(); }
    int Image() const noexcept { return table_.Image(); }
    // Empty when the shown row or the cell does not exist.
    const std::string& Cell(int row, int column) const;
    const RowTable::Cells& RowCells(int row) const;

    // IRowsView: the table's changes.
    void RowsAppended(int count) override;
    void RowChanged(int row) override;
    void RowsRemoved(const std::vector<int>& rows) override;
    void RowsCleared() override;
    void RowsReordered(const std::vector<int>& oldRowAt) override;

private:
    int TableRow(int row) const noexcept;
    // Shows `rows` (table rows, ascending) instead, and tells the view.
    void Show(std::vector<int> rows);

    RowTable& table_;
    RowFilter filter_;
    std::string typed_;
    std::vector<int> shown_;  // the table rows shown, ascending
    int tableRows_;           // the table's row count as last told
    IRowsView* view_ = nullptr;
};

}  // namespace corvane::views
