#include "support/FakeReportList.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace corvane::testing {

namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool AsciiEqualIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Fold(x) == Fold(y); });
}

}  // namespace

int FakeReportList::RowCount() const { return static_cast<int>(rows_.size()); }

int FakeReportList::FindCaption(const std::string& caption, int fromRow) const {
    for (int row = std::max(fromRow, 0); row < RowCount(); ++row) {
        if (AsciiEqualIgnoreCase(rows_[row].Cells[0], caption)) return row;
    }
    return -1;
}

std::string FakeReportList::CellText(int row, int cell) const {
    if (row < 0 || row >= RowCount() || cell < 0) return {};
    const auto& cells = rows_[row].Cells;
    return cell < static_cast<int>(cells.size()) ? cells[cell] : std::string();
}

void FakeReportList::SetCellText(int row, int cell, const std::string& text) {
    if (row < 0 || row >= RowCount() || cell < 0) throw std::out_of_range("SetCellText");
    auto& cells = rows_[row].Cells;
    if (cell >= static_cast<int>(cells.size())) cells.resize(cell + 1);
    cells[cell] = text;
    ++CellWrites;
}

int FakeReportList::AppendRow(int imageIndex, const std::string& caption,
                              const std::vector<std::string>& subItems) {
    Row row{imageIndex, {caption}};
    row.Cells.insert(row.Cells.end(), subItems.begin(), subItems.end());
    rows_.push_back(std::move(row));
    ++Appends;
    return RowCount() - 1;
}

void FakeReportList::DeleteRow(int row) {
    if (row < 0 || row >= RowCount()) throw std::out_of_range("DeleteRow");
    rows_.erase(rows_.begin() + row);
}

void FakeReportList::DeleteAllRows() { rows_.clear(); }

void FakeReportList::Sort(const RowComparison& compare) {
    // The comparison reads the rows where they are now; reorder afterwards.
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(a, b) < 0; });
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    for (int index : order) sorted.push_back(rows_[index]);
    rows_ = std::move(sorted);
}

std::vector<std::string> FakeReportList::Column(int cell) const {
    std::vector<std::string> column;
    for (int row = 0; row < RowCount(); ++row) column.push_back(CellText(row, cell));
    return column;
}

bool AsciiCollation::EqualIgnoreCase(std::string_view a, std::string_view b) const {
    return AsciiEqualIgnoreCase(a, b);
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
