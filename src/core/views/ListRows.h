#pragma once
// The rows of the session list and the resource list, kept by the scans.
//
// Session rows: caption = computer name; then address, user name, open count,
// connected time, idle time; image 0. A session row is found by its computer
// name and user name, both regardless of letter case.
// Resource rows: caption = user name; then the path; image 1. Found by path
// and user name, both regardless of letter case (the key the watch keeps in
// TFileInfo::Key, which is used as it is when there is one; the collation
// must then be the watch's).
//
// The rows live in two RowTables keyed by those identities, so every row
// operation touches one row, and the rows a pass removes go in one sweep; the
// list views show the tables (owner data).
#include <mutex>
#include <string>

#include "core/text/Collation.h"
#include "core/views/RowTable.h"
#include "core/watch/WatchPorts.h"

namespace corvane::views {

// Columns of the session list.
enum SessionColumn : int {
    kSessionComputerName = 0,
    kSessionAddress = 1,
    kSessionUserName = 2,
    kSessionOpenCount = 3,
    kSessionConnectedTime = 4,
    kSessionIdleTime = 5,
    kSessionColumnCount = 6,
};

// Columns of the resource list.
enum ResourceColumn : int {
    kResourceUserName = 0,
    kResourcePathName = 1,
    kResourceColumnCount = 2,
};

// The column captions, in column order: the lists' headers and the header
// line of what is copied or saved.
inline constexpr const char* kSessionColumnCaptions[kSessionColumnCount] = {
    "コンピュータ名", "IPアドレス", "ユーザ名", "オープン数", "接続時間", "アイドル時間"};
inline constexpr const char* kResourceColumnCaptions[kResourceColumnCount] = {"ユーザ名", "共有リソース名"};

inline constexpr int kSessionRowImage = 0;
inline constexpr int kResourceRowImage = 1;

// Order of two session rows by `column` (ascending; negative: a first).
// Names and addresses by the locale's text order, the open count as an
// integer, the times by the duration they show. Unknown columns compare equal.
int CompareSessionRows(const RowTable::Cells& a, const RowTable::Cells& b, int column,
                       const text::ICollation& collation);

// Order of two resource rows by `column`: user name or path, locale text order.
int CompareResourceRows(const RowTable::Cells& a, const RowTable::Cells& b, int column,
                        const text::ICollation& collation);

class ListRows final : public IWatchViews {
public:
    // Both are borrowed and must outlive this object. `listLock` is held for
    // the whole of every row operation and sort.
    ListRows(std::recursive_mutex& listLock, const text::ICollation& collation);

    // The address shown is the one the watch found for the session
    // (TSessionInfo::IpAddress); nothing is looked up here.
    void AddSessionRow(const TSessionInfo& info) override;
    void UpdateSessionRow(const TSessionInfo& info) override;
    void RemoveSessionRow(const TSessionInfo* info) override;
    void AddResourceRow(const TFileInfo& info) override;
    void RemoveResourceRow(const TFileInfo* info) override;
    // One sweep of the table each (no null entries).
    void RemoveSessionRows(const std::vector<const TSessionInfo*>& infos) override;
    void AddResourceRows(const std::vector<const TFileInfo*>& infos) override;
    void RemoveResourceRows(const std::vector<const TFileInfo*>& infos) override;

    // Header clicks: sort the list once, ascending by the column.
    void SortSessionRows(int column);
    void SortResourceRows(int column);

    // Row number of a session or resource, or -1.
    int FindSessionRow(const std::string& computerName, const std::string& userName) const;
    int FindResourceRow(const std::string& userName, const std::string& pathName) const;

    // The tables the list views show. Read them on the main thread (or under
    // the list lock).
    RowTable& Sessions() noexcept { return sessions_; }
    RowTable& Resources() noexcept { return resources_; }
    const RowTable& Sessions() const noexcept { return sessions_; }
    const RowTable& Resources() const noexcept { return resources_; }

private:
    std::string SessionKey(const std::string& computerName, const std::string& userName) const;
    std::string ResourceKey(const std::string& userName, const std::string& pathName) const;
    std::string ResourceKey(const TFileInfo& info) const;

    std::recursive_mutex& lock_;
    const text::ICollation& collation_;
    RowTable sessions_{kSessionColumnCount, kSessionRowImage};
    RowTable resources_{kResourceColumnCount, kResourceRowImage};
};

}  // namespace corvane::views
