#include "core/views/ListRows.h"

#include <charconv>
#include <cstdint>
#include <utility>

#include "core/views/TimeStr.h"

namespace corvane::views {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

std::int64_t ParseInteger(const std::string& text) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    return ec == std::errc() ? value : 0;
}

template <typename T>
int Sign(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareText(const IReportList& list, int rowA, int rowB, int cell,
                const text::ICollation& collation) {
    return collation.Compare(list.CellText(rowA, cell), list.CellText(rowB, cell));
}

}  // namespace

int CompareSessionRows(const IReportList& list, int rowA, int rowB, int column,
                       const text::ICollation& collation) {
    switch (column) {
    case kSessionComputerName:
    case kSessionAddress:
    case kSessionUserName:
        return CompareText(list, rowA, rowB, column, collation);
    case kSessionOpenCount:
        return Sign(ParseInteger(list.CellText(rowA, column)),
                    ParseInteger(list.CellText(rowB, column)));
    case kSessionConnectedTime:
    case kSessionIdleTime:
        return Sign(TimeStrToSeconds(list.CellText(rowA, column)),
                    TimeStrToSeconds(list.CellText(rowB, column)));
    default:
        return 0;
    }
}

int CompareResourceRows(const IReportList& list, int rowA, int rowB, int column,
                        const text::ICollation& collation) {
    switch (column) {
    case kResourceUserName:
    case kResourcePathName:
        return CompareText(list, rowA, rowB, column, collation);
    default:
        return 0;
    }
}

ListRows::ListRows(IReportList& sessions, IReportList& resources, std::recursive_mutex& listLock,
                   HostLookup lookupHostAddress, const text::ICollation& collation)
    : sessions_(sessions),
      resources_(resources),
      lock_(listLock),
      lookupHostAddress_(std::move(lookupHostAddress)),
      collation_(collation) {}

int ListRows::FindRow(const IReportList& list, const std::string& caption, int secondCell,
                      const std::string& secondText) const {
    for (int row = list.FindCaption(caption, 0); row >= 0;
         row = list.FindCaption(caption, row + 1)) {
        if (collation_.EqualIgnoreCase(list.CellText(row, secondCell), secondText)) return row;
    }
    return -1;
}

int ListRows::FindSessionRow(const std::string& computerName, const std::string& userName) const {
    Guard guard(lock_);
    return FindRow(sessions_, computerName, kSessionUserName, userName);
}

int ListRows::FindResourceRow(const std::string& userName, const std::string& pathName) const {
    Guard guard(lock_);
    return FindRow(resources_, userName, kResourcePathName, pathName);
}

void ListRows::AddSessionRow(const TSessionInfo& info) {
    Guard guard(lock_);
    if (FindRow(sessions_, info.ComputerName, kSessionUserName, info.UserName) >= 0) return;
    sessions_.AppendRow(kSessionRowImage, info.ComputerName,
                        {lookupHostAddress_ ? lookupHostAddress_(info.ComputerName) : std::string(),
                         info.UserName, std::to_string(info.OpenCount),
                         CardinalToTimeStr(info.ConnectedSeconds),
                         CardinalToTimeStr(info.IdleSeconds)});
}

void ListRows::UpdateSessionRow(const TSessionInfo& info) {
    Guard guard(lock_);
    const int row = FindRow(sessions_, info.ComputerName, kSessionUserName, info.UserName);
    if (row < 0) {
        AddSessionRow(info);
        return;
    }
    const std::pair<int, std::string> cells[] = {
        {kSessionUserName, info.UserName},
        {kSessionOpenCount, std::to_string(info.OpenCount)},
        {kSessionConnectedTime, CardinalToTimeStr(info.ConnectedSeconds)},
        {kSessionIdleTime, CardinalToTimeStr(info.IdleSeconds)},
    };
    for (const auto& [cell, text] : cells) {
        if (sessions_.CellText(row, cell) != text) sessions_.SetCellText(row, cell, text);
    }
}

void ListRows::RemoveSessionRow(const TSessionInfo* info) {
    Guard guard(lock_);
    if (info) {
        RemoveRow(sessions_, info->ComputerName, kSessionUserName, info->UserName);
    } else {
        sessions_.DeleteAllRows();
    }
}

void ListRows::AddResourceRow(const TFileInfo& info) {
    Guard guard(lock_);
    resources_.AppendRow(kResourceRowImage, info.UserName, {info.PathName});
}

void ListRows::RemoveResourceRow(const TFileInfo* info) {
    Guard guard(lock_);
    if (info) {
        RemoveRow(resources_, info->UserName, kResourcePathName, info->PathName);
    } else {
        resources_.DeleteAllRows();
    }
}

void ListRows::RemoveRow(IReportList& list, const std::string& caption, int secondCell,
                         const std::string& secondText) {
    const int row = FindRow(list, caption, secondCell, secondText);
    if (row >= 0) list.DeleteRow(row);
}

void ListRows::SortSessionRows(int column) {
    Guard guard(lock_);
    const IReportList& list = sessions_;
    sessions_.Sort([&list, column, this](int a, int b) {
        return CompareSessionRows(list, a, b, column, collation_);
    });
}

void ListRows::SortResourceRows(int column) {
    Guard guard(lock_);
    const IReportList& list = resources_;
    resources_.Sort([&list, column, this](int a, int b) {
        return CompareResourceRows(list, a, b, column, collation_);
    });
}

}  // namespace corvane::views
