#include "core/views/ShownRows.h"

#include <algorithm>
#include <utility>

namespace corvane::views {

ShownRows::ShownRows(RowTable& table) : table_(table), tableRows_(table.Count()) {
    shown_.reserve(static_cast<std::size_t>(table_.Count()));
    for (int row = 0; row < table_.Count(); ++row) shown_.push_back(row);
    table_.SetView(this);
}

ShownRows::~ShownRows() { table_.SetView(nullptr); }

int ShownRows::TableRow(int row) const noexcept {
    return row >= 0 && row < Count() ? shown_[static_cast<std::size_t>(row)] : -1;
}

const std::string& ShownRows::Cell(int row, int column) const { return table_.Cell(TableRow(row), column); }

const RowTable::Cells& ShownRows::RowCells(int row) const { return table_.RowCells(TableRow(row)); }

void ShownRows::SetFilter(std::string_view typed) {
    RowFilter filter(typed);
    typed_.assign(typed);
    if (filter.SameAs(filter_)) return;
    // A longer text shows some of the rows shown now: only they are looked at.
    const bool narrower = filter.Narrows(filter_);
    filter_ = std::move(filter);
    std::vector<int> rows;
    if (narrower) {
        for (int row : shown_)
            if (filter_.Matches(table_.RowCells(row))) rows.push_back(row);
    } else {
        for (int row = 0, n = table_.Count(); row < n; ++row)
            if (filter_.Matches(table_.RowCells(row))) rows.push_back(row);
    }
    Show(std::move(rows));
}

void ShownRows::Show(std::vector<int> rows) {
    // Both lists are ascending: one walk finds where each row was shown.
    std::vector<int> oldRowAt(rows.size(), -1);
    std::size_t old = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        while (old < shown_.size() && shown_[old] < rows[i]) ++old;
        if (old < shown_.size() && shown_[old] == rows[i]) oldRowAt[i] = static_cast<int>(old);
    }
    shown_ = std::move(rows);
    if (view_) view_->RowsReordered(oldRowAt);
}

void ShownRows::RowsAppended(int count) {
    // The table appends at its end: the new rows follow the ones seen.
    const int before = Count();
    for (int row = tableRows_; row < count; ++row)
        if (filter_.Matches(table_.RowCells(row))) shown_.push_back(row);
    tableRows_ = count;
    if (view_ && Count() != before) view_->RowsAppended(Count());
}

void ShownRows::RowChanged(int row) {
    const auto at = std::lower_bound(shown_.begin(), shown_.end(), row);
    const bool was = at != shown_.end() && *at == row;
    const int index = static_cast<int>(at - shown_.begin());
    const bool is = filter_.Matches(table_.RowCells(row));
    if (was && is) {
        if (view_) view_->RowChanged(index);
    } else if (was) {
        shown_.erase(at);
        if (view_) view_->RowsRemoved({index});
    } else if (is) {
        std::vector<int> rows = shown_;
        rows.insert(rows.begin() + index, row);
        Show(std::move(rows));
    }
}

void ShownRows::RowsRemoved(const std::vector<int>& rows) {
    // Both ascending: one walk drops the rows that went and renumbers the
    // others by the number of table rows that went before them.
    std::vector<int> gone;
    std::vector<int> kept;
    kept.reserve(shown_.size());
    std::size_t removed = 0;
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        const int row = shown_[i];
        while (removed < rows.size() && rows[removed] < row) ++removed;
        if (removed < rows.size() && rows[removed] == row) {
            gone.push_back(static_cast<int>(i));
        } else {
            kept.push_back(row - static_cast<int>(removed));
        }
    }
    shown_ = std::move(kept);
    tableRows_ -= static_cast<int>(rows.size());
    if (view_ && !gone.empty()) view_->RowsRemoved(gone);
}

void ShownRows::RowsCleared() {
    shown_.clear();
    tableRows_ = 0;
    if (view_) view_->RowsCleared();
}

void ShownRows::RowsReordered(const std::vector<int>& oldRowAt) {
    // The same rows in a new order: each shown row keeps its place among the
    // shown ones by where the table put it.
    std::vector<int> shownIndexOf(oldRowAt.size(), -1);
    for (std::size_t i = 0; i < shown_.size(); ++i)
        if (shown_[i] >= 0 && static_cast<std::size_t>(shown_[i]) < shownIndexOf.size())
            shownIndexOf[static_cast<std::size_t>(shown_[i])] = static_cast<int>(i);
    std::vector<int> rows, oldShownAt;
    rows.reserve(shown_.size());
    oldShownAt.reserve(shown_.size());
    for (std::size_t row = 0; row < oldRowAt.size(); ++row) {
        const int old = oldRowAt[row];
        if (old < 0 || static_cast<std::size_t>(old) >= shownIndexOf.size() || shownIndexOf[static_cast<std::size_t>(old)] < 0) continue;
        rows.push_back(static_cast<int>(row));
        oldShownAt.push_back(shownIndexOf[static_cast<std::size_t>(old)]);
    }
    shown_ = std::move(rows);
    if (view_) view_->RowsReordered(oldShownAt);
}

}  // namespace corvane::views
