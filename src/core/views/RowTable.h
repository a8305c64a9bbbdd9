#pragma once
// The rows of one report list, kept by the program rather than by the control:
// a list view in owner-data mode only asks for the cells it draws. Every row
// carries a lookup key (the identity of what it shows), so finding, changing
// and removing a row costs the same at five rows as at fifty thousand, and
// removing thousands of rows at once costs one sweep over the table, not one
// per row.
//
// Cells are numbered like the list's columns: cell 0 is the row's caption.
// Rows are numbered from 0 in display order.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvane::views {

// What shows a RowTable (a list view) and has to follow its changes. Each call
// comes after the table has changed; the table may be read inside it.
class IRowsView {
public:
    virtual ~IRowsView() = default;
    // Rows were appended; the table now holds `count` rows.
    virtual void RowsAppended(int count) = 0;
    // A cell of the row changed its text.
    virtual void RowChanged(int row) = 0;
    // These rows are gone: their numbers before the removal, ascending. The
    // rows that stay kept their order and closed up.
    virtual void RowsRemoved(const std::vector<int>& rows) = 0;
    virtual void RowsCleared() = 0;
    // The rows were put in a new order: the row now at i was at oldRowAt[i].
    virtual void RowsReordered(const std::vector<int>& oldRowAt) = 0;
};

class RowTable {
public:
    using Cells = std::vector<std::string>;
    // Negative: a goes before b.
    using Comparison = std::function<int(const Cells& a, const Cells& b)>;

    RowTable(int columnCount, int image);
    ~RowTable();
    RowTable(const RowTable&) = delete;
    RowTable& operator=(const RowTable&) = delete;

    // The one view told of the changes, or null. Borrowed.
    void SetView(IRowsView* view) noexcept { view_ = view; }

    int Count() const noexcept { return static_cast<int>(order_.size()); }
    int ColumnCount() const noexcept { return columns_; }
    // The image every row of this list shows.
    int Image() const noexcept { return image_; }
    // Empty when the row or the cell does not exist.
    const std::string& Cell(int row, int column) const;
    const Cells& RowCells(int row) const;

    // The first row (in display order) with that key, or -1.
    int Find(const std::string& key) const;
    // Appends a row at the end and returns its number. `cells` is cut or
    // padded to the column count. Several rows may share one key.
    int Append(const std::string& key, Cells cells);
    // Appends every row in the given order; the view is told once.
    struct NewRow {
        std::string Key;
        Cells Texts;
    };
    void Append(std::vector<NewRow> rows);
    // Writes the cell when its text differs byte for byte; true when it did.
    bool SetCell(int row, int column, const std::string& text);
    void Remove(int row);
    // For each key, removes the first row (in display order) with that key
    // that is still there; a key no row has is passed over. One sweep: the
    // table closes up and renumbers once and tells the view once, so the cost
    // grows with the table plus the keys, not with their product. Returns how
    // many rows went.
    int RemoveKeys(const std::vector<std::string>& keys);
    void Clear();
    // Orders the rows once, ascending by `compare`; rows that compare equal
    // keep their order. A comparison that throws leaves the order as it was.
    void Sort(const Comparison& compare);

private:
    struct Row {
        std::string Key;
        Cells Texts;
        std::size_t Position = 0;  // index in order_
        bool Gone = false;         // picked by the removal under way
    };

    void Renumber(std::size_t from);
    // Drops the rows marked Gone, whose positions are `gone` (ascending), in
    // one pass, and tells the view.
    void Sweep(const std::vector<int>& gone);
    void Unindex(Row* row);

    int columns_;
    int image_;
    std::vector<std::unique_ptr<Row>> order_;
    std::unordered_multimap<std::string, Row*> index_;
    IRowsView* view_ = nullptr;
};

}  // namespace corvane::views
