#include "core/views/RowTable.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace corvane::views {

namespace {

const std::string kNoText;
const RowTable::Cells kNoCells;

}  // namespace

RowTable::RowTable(int columnCount, int image) : columns_(columnCount), image_(image) {}

RowTable::~RowTable() = default;

const std::string& RowTable::Cell(int row, int column) const {
    if (row < 0 || row >= Count() || column < 0 || column >= columns_) return kNoText;
    return order_[static_cast<std::size_t>(row)]->Texts[static_cast<std::size_t>(column)];
}

const RowTable::Cells& RowTable::RowCells(int row) const {
    if (row < 0 || row >= Count()) return kNoCells;
    return order_[static_cast<std::size_t>(row)]->Texts;
}

int RowTable::Find(const std::string& key) const {
    auto [first, last] = index_.equal_range(key);
    const Row* best = nullptr;
    for (auto it = first; it != last; ++it) {
        if (!best || it->second->Position < best->Position) best = it->second;
    }
    return best ? static_cast<int>(best->Position) : -1;
}

int RowTable::Append(const std::string& key, Cells cells) {
    cells.resize(static_cast<std::size_t>(columns_));
    auto row = std::make_unique<Row>();
    row->Key = key;
    row->Texts = std::move(cells);
    row->Position = order_.size();
    Row* raw = row.get();
    order_.push_back(std::move(row));
    try {
        index_.emplace(key, raw);
    } catch (...) {
        order_.pop_back();
        throw;
    }
    if (view_) view_->RowsAppended(Count());
    return static_cast<int>(raw->Position);
}

void RowTable::Append(std::vector<NewRow> rows) {
    if (rows.empty()) return;
    // No reserve here: the table and its index keep growing geometrically,
    // where a reserve for each batch would copy and rehash them every time.
    const int before = Count();
    try {
        for (NewRow& row : rows) {
            row.Texts.resize(static_cast<std::size_t>(columns_));
            auto made = std::make_unique<Row>();
            made->Key = std::move(row.Key);
            made->Texts = std::move(row.Texts);
            made->Position = order_.size();
            Row* raw = made.get();
            order_.push_back(std::move(made));
            try {
                index_.emplace(raw->Key, raw);
            } catch (...) {
                order_.pop_back();
                throw;
            }
        }
    } catch (...) {
        // Out of memory: the rows appended so far stay, and are shown.
        if (view_ && Count() != before) view_->RowsAppended(Count());
        throw;
    }
    if (view_) view_->RowsAppended(Count());
}

bool RowTable::SetCell(int row, int column, const std::string& text) {
    if (row < 0 || row >= Count() || column < 0 || column >= columns_) return false;
    std::string& cell = order_[static_cast<std::size_t>(row)]->Texts[static_cast<std::size_t>(column)];
    if (cell == text) return false;
    cell = text;
    if (view_) view_->RowChanged(row);
    return true;
}

void RowTable::Unindex(Row* row) {
    auto [first, last] = index_.equal_range(row->Key);
    for (auto it = first; it != last; ++it) {
        if (it->second == row) {
            index_.erase(it);
            return;
        }
    }
}

void RowTable::Remove(int row) {
    if (row < 0 || row >= Count()) return;
    order_[static_cast<std::size_t>(row)]->Gone = true;
    Sweep({row});
}

int RowTable::RemoveKeys(const std::vector<std::string>& keys) {
    std::vector<int> gone;
    gone.reserve(keys.size());
    for (const std::string& key : keys) {
        auto [first, last] = index_.equal_range(key);
        Row* pick = nullptr;
        for (auto it = first; it != last; ++it) {
            Row* row = it->second;
            if (!row->Gone && (!pick || row->Position < pick->Position)) pick = row;
        }
        if (!pick) continue;
        pick->Gone = true;
        gone.push_back(static_cast<int>(pick->Position));
    }
    std::sort(gone.begin(), gone.end());
    Sweep(gone);
    return static_cast<int>(gone.size());
}

void RowTable::Sweep(const std::vector<int>& gone) {
    if (gone.empty()) return;
    for (int row : gone) Unindex(order_[static_cast<std::size_t>(row)].get());
    const auto from = static_cast<std::size_t>(gone.front());
    const auto end = std::remove_if(order_.begin() + static_cast<std::ptrdiff_t>(from), order_.end(),
                                    [](const std::unique_ptr<Row>& row) { return row->Gone; });
    order_.erase(end, order_.end());
    Renumber(from);
    if (view_) view_->RowsRemoved(gone);
}

void RowTable::Clear() {
    index_.clear();
    order_.clear();
    if (view_) view_->RowsCleared();
}

void RowTable::Sort(const Comparison& compare) {
    // The order is worked out on row numbers first, so that a comparison that
    // throws leaves every row where it was.
    std::vector<int> oldRowAt(order_.size());
    std::iota(oldRowAt.begin(), oldRowAt.end(), 0);
    std::stable_sort(oldRowAt.begin(), oldRowAt.end(), [&](int a, int b) {
        return compare(order_[static_cast<std::size_t>(a)]->Texts, order_[static_cast<std::size_t>(b)]->Texts) < 0;
    });
    std::vector<std::unique_ptr<Row>> sorted;
    sorted.reserve(order_.size());
    for (int old : oldRowAt) sorted.push_back(std::move(order_[static_cast<std::size_t>(old)]));
    order_ = std::move(sorted);
    Renumber(0);
    if (view_) view_->RowsReordered(oldRowAt);
}

void RowTable::Renumber(std::size_t from) {
    for (std::size_t i = from; i < order_.size(); ++i) order_[i]->Position = i;
}

}  // namespace corvane::views
