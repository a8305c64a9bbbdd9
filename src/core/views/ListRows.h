#pragma once
// The rows of the session list and the resource list, kept by the scans.
//
// Session rows: caption = computer name; sub items: address, user name, open
// count, connected time, idle time; image 0. A session row is found by its
// computer name and user name, both regardless of letter case.
// Resource rows: caption = user name; sub item: path; image 1. Found by user
// name and path, both regardless of letter case.
#include <functional>
#include <mutex>
#include <string>

#include "core/text/Collation.h"
#include "core/views/ReportList.h"
#include "core/watch/WatchPorts.h"

namespace corvane::views {

// Columns of the session list (cell numbers of IReportList).
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

inline constexpr int kSessionRowImage = 0;
inline constexpr int kResourceRowImage = 1;

// Order of two session rows by `column` (ascending; negative: rowA first).
// Names and addresses by the locale's text order, the open count as an
// integer, the times by the duration they show. Unknown columns compare equal.
int CompareSessionRows(const IReportList& list, int rowA, int rowB, int column,
                       const text::ICollation& collation);

// Order of two resource rows by `column`: user name or path, locale text order.
int CompareResourceRows(const IReportList& list, int rowA, int rowB, int column,
                        const text::ICollation& collation);

class ListRows final : public IWatchViews {
public:
    // Computer name to address text; called only when a session row is added.
    using HostLookup = std::function<std::string(const std::string& computerName)>;

    // Everything is borrowed and must outlive this object. `listLock` is held
    // for the whole of every row operation and sort.
    ListRows(IReportList& sessions, IReportList& resources, std::recursive_mutex& listLock,
             HostLookup lookupHostAddress, const text::ICollation& collation);

    void AddSessionRow(const TSessionInfo& info) override;
    void UpdateSessionRow(const TSessionInfo& info) override;
    void RemoveSessionRow(const TSessionInfo* info) override;
    void AddResourceRow(const TFileInfo& info) override;
    void RemoveResourceRow(const TFileInfo* info) override;

    // Header clicks: sort the list once, ascending by the column.
    void SortSessionRows(int column);
    void SortResourceRows(int column);

    // Row number of a session or resource, or -1.
    int FindSessionRow(const std::string& computerName, const std::string& userName) const;
    int FindResourceRow(const std::string& userName, const std::string& pathName) const;

private:
    int FindRow(const IReportList& list, const std::string& caption, int secondCell,
                const std::string& secondText) const;
    // Deletes the first row with that caption and second key, if any.
    void RemoveRow(IReportList& list, const std::string& caption, int secondCell, const std::string& secondText);

    IReportList& sessions_;
    IReportList& resources_;
    std::recursive_mutex& lock_;
    HostLookup lookupHostAddress_;
    const text::ICollation& collation_;
};

}  // namespace corvane::views
