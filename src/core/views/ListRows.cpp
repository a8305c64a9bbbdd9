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

const std::string& At(const RowTable::Cells& cells, int column) {
    static const std::string kNone;
    return column >= 0 && static_cast<std::size_t>(column) < cells.size() ? cells[static_cast<std::size_t>(column)]
                                                                          : kNone;
}

}  // namespace

int CompareSessionRows(const RowTable::Cells& a, const RowTable::Cells& b, int column,
                       const text::ICollation& collation) {
    switch (column) {
    case kSessionComputerName:
    case kSessionAddress:
    case kSessionUserName:
        return collation.Compare(At(a, column), At(b, column));
    case kSessionOpenCount:
        return Sign(ParseInteger(At(a, column)), ParseInteger(At(b, column)));
    case kSessionConnectedTime:
    case kSessionIdleTime:
        return Sign(TimeStrToSeconds(At(a, column)), TimeStrToSeconds(At(b, column)));
    default:
        return 0;
    }
}

int CompareResourceRows(const RowTable::Cells& a, const RowTable::Cells& b, int column,
                        const text::ICollation& collation) {
    switch (column) {
    case kResourceUserName:
    case kResourcePathName:
        return collation.Compare(At(a, column), At(b, column));
    default:
        return 0;
    }
}

ListRows::ListRows(std::recursive_mutex& listLock, const text::ICollation& collation)
    : lock_(listLock), collation_(collation) {}

std::string ListRows::SessionKey(const std::string& computerName, const std::string& userName) const {
    return text::PairKey(collation_, computerName, userName);
}

std::string ListRows::ResourceKey(const std::string& userName, const std::string& pathName) const {
    return text::PairKey(collation_, pathName, userName);
}

std::string ListRows::ResourceKey(const TFileInfo& info) const {
    return info.Key.empty() ? ResourceKey(info.UserName, info.PathName) : info.Key;
}

int ListRows::FindSessionRow(const std::string& computerName, const std::string& userName) const {
    Guard guard(lock_);
    return sessions_.Find(SessionKey(computerName, userName));
}

int ListRows::FindResourceRow(const std::string& userName, const std::string& pathName) const {
    Guard guard(lock_);
    return resources_.Find(ResourceKey(userName, pathName));
}

void ListRows::AddSessionRow(const TSessionInfo& info) {
    Guard guard(lock_);
    std::string key = SessionKey(info.ComputerName, info.UserName);
    if (sessions_.Find(key) >= 0) return;
    sessions_.Append(key, {info.ComputerName, info.IpAddress, info.UserName, std::to_string(info.OpenCount),
                           CardinalToTimeStr(info.ConnectedSeconds), CardinalToTimeStr(info.IdleSeconds)});
}

void ListRows::UpdateSessionRow(const TSessionInfo& info) {
    Guard guard(lock_);
    const int row = sessions_.Find(SessionKey(info.ComputerName, info.UserName));
    if (row < 0) {
        AddSessionRow(info);
        return;
    }
    // The caption and the address stay as they were when the row was added;
    // the user cell follows a change of letter case.
    sessions_.SetCell(row, kSessionUserName, info.UserName);
    sessions_.SetCell(row, kSessionOpenCount, std::to_string(info.OpenCount));
    sessions_.SetCell(row, kSessionConnectedTime, CardinalToTimeStr(info.ConnectedSeconds));
    sessions_.SetCell(row, kSessionIdleTime, CardinalToTimeStr(info.IdleSeconds));
}

void ListRows::RemoveSessionRow(const TSessionInfo* info) {
    Guard guard(lock_);
    if (info) {
        sessions_.Remove(sessions_.Find(SessionKey(info->ComputerName, info->UserName)));
    } else {
        sessions_.Clear();
    }
}

void ListRows::AddResourceRow(const TFileInfo& info) {
    Guard guard(lock_);
    // No duplicate test: the resource scan decides when a row is due.
    resources_.Append(ResourceKey(info), {info.UserName, info.PathName});
}

void ListRows::RemoveResourceRow(const TFileInfo* info) {
    Guard guard(lock_);
    if (info) {
        resources_.Remove(resources_.Find(ResourceKey(*info)));
    } else {
        resources_.Clear();
    }
}

void ListRows::RemoveSessionRows(const std::vector<const TSessionInfo*>& infos) {
    std::vector<std::string> keys;
    keys.reserve(infos.size());
    for (const TSessionInfo* info : infos) keys.push_back(SessionKey(info->ComputerName, info->UserName));
    Guard guard(lock_);
    sessions_.RemoveKeys(keys);
}

void ListRows::AddResourceRows(const std::vector<const TFileInfo*>& infos) {
    std::vector<RowTable::NewRow> rows;
    rows.reserve(infos.size());
    for (const TFileInfo* info : infos)
        rows.push_back({ResourceKey(*info), {info->UserName, info->PathName}});
    Guard guard(lock_);
    resources_.Append(std::move(rows));
}

void ListRows::RemoveResourceRows(const std::vector<const TFileInfo*>& infos) {
    std::vector<std::string> keys;
    keys.reserve(infos.size());
    for (const TFileInfo* info : infos) keys.push_back(ResourceKey(*info));
    Guard guard(lock_);
    resources_.RemoveKeys(keys);
}

void ListRows::SortSessionRows(int column) {
    Guard guard(lock_);
    sessions_.Sort([this, column](const RowTable::Cells& a, const RowTable::Cells& b) {
        return CompareSessionRows(a, b, column, collation_);
    });
}

void ListRows::SortResourceRows(int column) {
    Guard guard(lock_);
    resources_.Sort([this, column](const RowTable::Cells& a, const RowTable::Cells& b) {
        return CompareResourceRows(a, b, column, collation_);
    });
}

}  // namespace corvane::views
