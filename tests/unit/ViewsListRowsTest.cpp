#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "core/views/ListRows.h"
#include "core/views/TimeStr.h"
#include "support/AsciiCollation.h"
#include "support/WatchRecords.h"

namespace corvane::views {
namespace {

using corvane::testing::AsciiCollation;
using Strings = std::vector<std::string>;
using corvane::testing::Resource;
using corvane::testing::Session;

TSessionInfo SessionAt(std::string computer, std::string address, std::string user, std::uint32_t open = 1,
                       std::uint32_t connected = 0, std::uint32_t idle = 0) {
    TSessionInfo info = Session(std::move(computer), std::move(user), open, connected, idle);
    info.IpAddress = std::move(address);
    return info;
}

// A copy of a table kept up to date only through its change calls, as a list
// view in owner-data mode is: it must end up holding what the table holds.
class MirrorView final : public IRowsView {
public:
    explicit MirrorView(const RowTable& table) : table_(table) {}
    void RowsAppended(int count) override {
        while (static_cast<int>(rows.size()) < count) rows.push_back(table_.RowCells(static_cast<int>(rows.size())));
    }
    void RowChanged(int row) override {
        ++changes;
        rows.at(static_cast<std::size_t>(row)) = table_.RowCells(row);
    }
    void RowsRemoved(const std::vector<int>& gone) override {
        for (auto row = gone.rbegin(); row != gone.rend(); ++row) rows.erase(rows.begin() + *row);
    }
    void RowsCleared() override { rows.clear(); }
    void RowsReordered(const std::vector<int>& oldRowAt) override {
        std::vector<RowTable::Cells> sorted;
        for (int old : oldRowAt) sorted.push_back(rows.at(static_cast<std::size_t>(old)));
        rows = std::move(sorted);
    }

    std::vector<RowTable::Cells> rows;
    int changes = 0;

private:
    const RowTable& table_;
};

Strings Column(const RowTable& table, int column) {
    Strings texts;
    for (int row = 0; row < table.Count(); ++row) texts.push_back(table.Cell(row, column));
    return texts;
}

class ListRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        rows.Sessions().SetView(&sessionView);
        rows.Resources().SetView(&resourceView);
    }

    std::recursive_mutex lock;
    AsciiCollation collation;
    ListRows rows{lock, collation};
    MirrorView sessionView{rows.Sessions()};
    MirrorView resourceView{rows.Resources()};
    const RowTable& sessions = rows.Sessions();
    const RowTable& resources = rows.Resources();
};

TEST_F(ListRowsTest, AddSessionRowShowsTheAddressTheWatchFound) {
    rows.AddSessionRow(SessionAt("PC1", "192.168.1.23", "alice", 3, 90061, 59));
    rows.AddSessionRow(SessionAt("pc1", "10.9.9.9", "ALICE", 4, 1, 1));  // same session, other case

    ASSERT_EQ(sessions.Count(), 1);
    EXPECT_EQ(sessions.Image(), kSessionRowImage);
    EXPECT_EQ(sessions.RowCells(0), (Strings{"PC1", "192.168.1.23", "alice", "3", "1 d. 01:01:01", "00:00:59"}));
    EXPECT_EQ(sessionView.rows, std::vector<RowTable::Cells>{sessions.RowCells(0)});
}

TEST_F(ListRowsTest, TwoUsersOnOneComputerHaveTheirOwnRows) {
    rows.AddSessionRow(Session("PC1", "alice"));
    rows.AddSessionRow(Session("OTHER", "alice"));
    rows.AddSessionRow(Session("PC1", "bob"));
    ASSERT_EQ(Column(sessions, kSessionUserName), (Strings{"alice", "alice", "bob"}));

    rows.UpdateSessionRow(Session("pc1", "BOB", 7));
    EXPECT_EQ(Column(sessions, kSessionOpenCount), (Strings{"1", "1", "7"}));

    auto bob = Session("PC1", "bob");
    rows.RemoveSessionRow(&bob);
    EXPECT_EQ(Column(sessions, kSessionComputerName), (Strings{"PC1", "OTHER"}));
    EXPECT_EQ(Column(sessions, kSessionUserName), (Strings{"alice", "alice"}));

    rows.RemoveSessionRow(&bob);  // gone already: nothing happens
    EXPECT_EQ(sessions.Count(), 2);
    EXPECT_EQ(rows.FindSessionRow("other", "ALICE"), 1);
}

TEST_F(ListRowsTest, UserNameChangingOnlyInCaseKeepsTheRow) {
    rows.AddSessionRow(Session("PC1", "alice"));
    rows.UpdateSessionRow(Session("PC1", "Alice"));

    ASSERT_EQ(sessions.Count(), 1);
    EXPECT_EQ(sessions.Cell(0, kSessionUserName), "Alice");
    EXPECT_EQ(sessions.Cell(0, kSessionComputerName), "PC1");
}

TEST_F(ListRowsTest, UpdateChangesOnlyChangedCellsAndNeverCaptionOrAddress) {
    rows.AddSessionRow(SessionAt("PC1", "10.0.0.1", "alice", 1, 10, 5));

    rows.UpdateSessionRow(SessionAt("pc1", "10.0.0.99", "alice", 1, 10, 5));
    EXPECT_EQ(sessionView.changes, 0);

    rows.UpdateSessionRow(SessionAt("pc1", "10.0.0.99", "alice", 2, 10, 6));
    EXPECT_EQ(sessionView.changes, 2);
    EXPECT_EQ(sessions.RowCells(0), (Strings{"PC1", "10.0.0.1", "alice", "2", "00:00:10", "00:00:06"}));
    EXPECT_EQ(sessionView.rows.at(0), sessions.RowCells(0));
}

TEST_F(ListRowsTest, UpdateOfAMissingSessionAddsIt) {
    rows.UpdateSessionRow(SessionAt("UNKNOWN", "(N/A)", "carol", 2, 3600, 0));
    ASSERT_EQ(sessions.Count(), 1);
    EXPECT_EQ(sessions.RowCells(0), (Strings{"UNKNOWN", "(N/A)", "carol", "2", "01:00:00", "00:00:00"}));
}

TEST_F(ListRowsTest, RemoveWithNoneEmptiesOnlyItsList) {
    rows.AddSessionRow(Session("PC1", "alice"));
    rows.AddSessionRow(Session("PC2", "bob"));
    rows.AddResourceRow(Resource("alice", "C:\\share\\a.txt"));
    rows.AddResourceRow(Resource("bob", "C:\\share\\b.txt"));

    rows.RemoveSessionRow(nullptr);
    EXPECT_EQ(sessions.Count(), 0);
    EXPECT_EQ(resources.Count(), 2);
    EXPECT_EQ(rows.FindSessionRow("PC1", "alice"), -1);

    rows.RemoveResourceRow(nullptr);
    EXPECT_EQ(resources.Count(), 0);
    EXPECT_TRUE(resourceView.rows.empty());
}

TEST_F(ListRowsTest, ResourceRowsHaveNoDuplicateTestAndRemoveOneAtATime) {
    rows.AddResourceRow(Resource("alice", "C:\\share\\a.txt"));
    rows.AddResourceRow(Resource("bob", "C:\\share\\a.txt"));
    rows.AddResourceRow(Resource("alice", "C:\\share\\b.txt"));
    rows.AddResourceRow(Resource("alice", "C:\\share\\b.txt"));
    ASSERT_EQ(resources.Count(), 4);
    EXPECT_EQ(resources.Image(), kResourceRowImage);
    EXPECT_EQ(resources.RowCells(0), (Strings{"alice", "C:\\share\\a.txt"}));

    auto b = Resource("ALICE", "c:\\SHARE\\B.TXT");
    rows.RemoveResourceRow(&b);
    EXPECT_EQ(Column(resources, kResourcePathName),
              (Strings{"C:\\share\\a.txt", "C:\\share\\a.txt", "C:\\share\\b.txt"}));
    auto missing = Resource("bob", "C:\\share\\b.txt");
    rows.RemoveResourceRow(&missing);
    EXPECT_EQ(resources.Count(), 3);

    // The key the watch found a file by is the row's key: the row it adds is
    // found and removed by the names alone, in any letter case.
    auto watched = Resource("carol", "D:\\x.txt");
    watched.Key = text::PairKey(collation, watched.PathName, watched.UserName);
    rows.AddResourceRow(watched);
    EXPECT_EQ(rows.FindResourceRow("CAROL", "d:\\X.TXT"), 3);
    auto named = Resource("Carol", "D:\\X.txt");
    rows.RemoveResourceRow(&named);
    EXPECT_EQ(resources.Count(), 3);
}

TEST(ListRowsLockTest, RowOperationsRunUnderTheListLock) {
    std::recursive_mutex lock;
    AsciiCollation collation;
    ListRows rows(lock, collation);
    // Another thread must find the lock taken while the view hears of a change.
    struct Probe final : IRowsView {
        explicit Probe(std::recursive_mutex& l) : lock(l) {}
        void RowsAppended(int) override { Check(); }
        void RowChanged(int) override { Check(); }
        void RowsRemoved(const std::vector<int>&) override { Check(); }
        void RowsCleared() override { Check(); }
        void RowsReordered(const std::vector<int>&) override { Check(); }
        void Check() {
            ++calls;
            std::thread other([&] {
                if (lock.try_lock()) {
                    ++unlockedCalls;
                    lock.unlock();
                }
            });
            other.join();
        }
        std::recursive_mutex& lock;
        int calls = 0;
        int unlockedCalls = 0;
    } probe(lock);
    rows.Sessions().SetView(&probe);
    {
        // The caller may hold the lock already; UpdateSessionRow re-enters it
        // through AddSessionRow.
        std::lock_guard<std::recursive_mutex> guard(lock);
        rows.UpdateSessionRow(Session("PC1", "alice"));
    }
    rows.UpdateSessionRow(Session("PC1", "alice", 5));
    rows.SortSessionRows(kSessionOpenCount);
    const auto pc1 = Session("PC1", "alice");
    rows.RemoveSessionRow(&pc1);
    rows.RemoveSessionRow(nullptr);
    EXPECT_EQ(probe.calls, 5);
    EXPECT_EQ(probe.unlockedCalls, 0);
    std::thread other([&] {
        EXPECT_TRUE(lock.try_lock());
        lock.unlock();
    });
    other.join();
}

class ListRowsSortTest : public ListRowsTest {
protected:
    void AddSessions(const std::vector<TSessionInfo>& infos) {
        for (const auto& info : infos) rows.AddSessionRow(info);
    }
};

TEST_F(ListRowsSortTest, OpenCountSortsAsIntegers) {
    AddSessions({Session("A", "u1", 10), Session("B", "u2", 9), Session("C", "u3", 100), Session("D", "u4", 0)});
    rows.SortSessionRows(kSessionOpenCount);
    EXPECT_EQ(Column(sessions, kSessionOpenCount), (Strings{"0", "9", "10", "100"}));
}

TEST_F(ListRowsSortTest, TimesSortByDurationWithTheDayPart) {
    AddSessions({Session("A", "u1", 1, 86400, 90061), Session("B", "u2", 1, 86399, 4294967295u),
                 Session("C", "u3", 1, 172800, 59), Session("D", "u4", 1, 93784, 86399)});
    rows.SortSessionRows(kSessionConnectedTime);
    EXPECT_EQ(Column(sessions, kSessionConnectedTime),
              (Strings{"23:59:59", "1 d. 00:00:00", "1 d. 02:03:04", "2 d. 00:00:00"}));
    rows.SortSessionRows(kSessionIdleTime);
    EXPECT_EQ(Column(sessions, kSessionIdleTime),
              (Strings{"00:00:59", "23:59:59", "1 d. 01:01:01", "49710 d. 06:28:15"}));
}

TEST_F(ListRowsSortTest, NamesAndAddressesSortAsText) {
    for (int i = 1; i <= 10; ++i)
        rows.AddSessionRow(SessionAt("PC" + std::to_string(11 - i), "10.0.0." + std::to_string(i), "u"));

    rows.SortSessionRows(kSessionAddress);
    EXPECT_EQ(sessions.Cell(0, kSessionAddress), "10.0.0.1");
    EXPECT_EQ(sessions.Cell(1, kSessionAddress), "10.0.0.10");
    EXPECT_EQ(sessions.Cell(9, kSessionAddress), "10.0.0.9");

    rows.SortSessionRows(kSessionComputerName);
    EXPECT_EQ(sessions.Cell(0, kSessionComputerName), "PC1");
    EXPECT_EQ(sessions.Cell(1, kSessionComputerName), "PC10");
    EXPECT_EQ(sessions.Cell(9, kSessionComputerName), "PC9");
    // The rows move whole, and are found where they went.
    EXPECT_EQ(sessions.Cell(1, kSessionAddress), "10.0.0.1");
    EXPECT_EQ(rows.FindSessionRow("pc10", "U"), 1);
}

TEST_F(ListRowsSortTest, SortingTwiceKeepsAscendingAndNewRowsGoLast) {
    AddSessions({Session("B", "u", 2), Session("C", "u", 3), Session("A", "u", 1)});
    rows.SortSessionRows(kSessionComputerName);
    EXPECT_EQ(Column(sessions, 0), (Strings{"A", "B", "C"}));
    rows.SortSessionRows(kSessionComputerName);
    EXPECT_EQ(Column(sessions, 0), (Strings{"A", "B", "C"}));

    rows.AddSessionRow(Session("0", "u"));
    rows.UpdateSessionRow(Session("A", "u", 99));
    EXPECT_EQ(Column(sessions, 0), (Strings{"A", "B", "C", "0"}));
    EXPECT_EQ(sessions.Cell(0, kSessionOpenCount), "99");
}

TEST_F(ListRowsSortTest, ResourceListSortsByUserOrPath) {
    rows.AddResourceRow(Resource("bob", "C:\\b"));
    rows.AddResourceRow(Resource("carol", "C:\\a"));
    rows.AddResourceRow(Resource("alice", "C:\\c"));

    rows.SortResourceRows(kResourcePathName);
    EXPECT_EQ(Column(resources, kResourcePathName), (Strings{"C:\\a", "C:\\b", "C:\\c"}));
    EXPECT_EQ(Column(resources, kResourceUserName), (Strings{"carol", "bob", "alice"}));
    rows.SortResourceRows(kResourceUserName);
    EXPECT_EQ(Column(resources, kResourceUserName), (Strings{"alice", "bob", "carol"}));
    EXPECT_EQ(resourceView.rows.at(0), resources.RowCells(0));
}

TEST(RowTableTest, ComparisonThatThrowsLeavesEveryRowWhereItWas) {
    RowTable table(2, 0);
    for (const char* caption : {"b", "a", "c"}) table.Append(caption, {caption, "x"});
    EXPECT_THROW(table.Sort([](const RowTable::Cells&, const RowTable::Cells&) -> int { throw std::runtime_error("compare"); }),
                 std::runtime_error);
    EXPECT_EQ(Column(table, 0), (Strings{"b", "a", "c"}));
    EXPECT_EQ(table.Find("c"), 2);
}

// The plain way to keep the rows: a vector searched row by row, first caption
// then second key, as a list view's own item search would. The keyed table
// must agree with it after any mix of operations.
class ReferenceRows {
public:
    explicit ReferenceRows(const text::ICollation& collation) : collation_(collation) {}

    int Find(const std::vector<RowTable::Cells>& list, const std::string& caption, int second,
             const std::string& secondText) const {
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (collation_.EqualIgnoreCase(list[i][0], caption) &&
                collation_.EqualIgnoreCase(list[i][static_cast<std::size_t>(second)], secondText))
                return static_cast<int>(i);
        }
        return -1;
    }
    void AddSession(const TSessionInfo& s) {
        if (Find(sessions, s.ComputerName, kSessionUserName, s.UserName) >= 0) return;
        sessions.push_back({s.ComputerName, s.IpAddress, s.UserName, std::to_string(s.OpenCount),
                            CardinalToTimeStr(s.ConnectedSeconds), CardinalToTimeStr(s.IdleSeconds)});
    }
    void UpdateSession(const TSessionInfo& s) {
        const int row = Find(sessions, s.ComputerName, kSessionUserName, s.UserName);
        if (row < 0) return AddSession(s);
        auto& cells = sessions[static_cast<std::size_t>(row)];
        cells[2] = s.UserName;
        cells[3] = std::to_string(s.OpenCount);
        cells[4] = CardinalToTimeStr(s.ConnectedSeconds);
        cells[5] = CardinalToTimeStr(s.IdleSeconds);
    }
    void RemoveSession(const TSessionInfo& s) {
        const int row = Find(sessions, s.ComputerName, kSessionUserName, s.UserName);
        if (row >= 0) sessions.erase(sessions.begin() + row);
    }
    void AddResource(const TFileInfo& f) { resources.push_back({f.UserName, f.PathName}); }
    void RemoveResource(const TFileInfo& f) {
        const int row = Find(resources, f.UserName, kResourcePathName, f.PathName);
        if (row >= 0) resources.erase(resources.begin() + row);
    }
    template <class Compare>
    static void Sort(std::vector<RowTable::Cells>& list, Compare compare) {
        std::stable_sort(list.begin(), list.end(), [&](const auto& a, const auto& b) { return compare(a, b) < 0; });
    }

    std::vector<RowTable::Cells> sessions, resources;

private:
    const text::ICollation& collation_;
};

std::vector<RowTable::Cells> Rows(const RowTable& table) {
    std::vector<RowTable::Cells> all;
    for (int row = 0; row < table.Count(); ++row) all.push_back(table.RowCells(row));
    return all;
}

// One mix of operations on a list that grows to about 5,000 rows.
struct RowMix {
    const char* name;
    unsigned seed;
    int identities;    // distinct sessions (and as many files)
    int operations;    // after filling every identity once
    int add, update, remove, sort, clear, batch;  // weights
};

class ListRowsAgreeWithReference : public ::testing::TestWithParam<RowMix> {};

TEST_P(ListRowsAgreeWithReference, AfterEveryMixOfOperations) {
    const RowMix mix = GetParam();
    std::recursive_mutex lock;
    AsciiCollation collation;
    ListRows rows(lock, collation);
    MirrorView sessionView(rows.Sessions()), resourceView(rows.Resources());
    rows.Sessions().SetView(&sessionView);
    rows.Resources().SetView(&resourceView);
    ReferenceRows reference(collation);
    std::mt19937 random(mix.seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

    // Names repeat in other letter case; several users share a computer.
    auto vary = [&](std::string name) {
        if (pick(3) == 0) std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        return name;
    };
    auto session = [&](int i) {
        return SessionAt(vary("PC" + std::to_string(i / 2)), "10.0." + std::to_string(i % 250) + ".1",
                         vary("USER" + std::to_string(i % 7)), static_cast<std::uint32_t>(pick(12)),
                         static_cast<std::uint32_t>(pick(200000)), static_cast<std::uint32_t>(pick(100)));
    };
    auto file = [&](int i) { return Resource(vary("USER" + std::to_string(i % 7)), vary("D:\\S\\F" + std::to_string(i))); };

    auto check = [&](int step) {
        SCOPED_TRACE(std::string(mix.name) + ", step " + std::to_string(step));
        ASSERT_EQ(Rows(rows.Sessions()), reference.sessions);
        ASSERT_EQ(Rows(rows.Resources()), reference.resources);
        ASSERT_EQ(sessionView.rows, reference.sessions);
        ASSERT_EQ(resourceView.rows, reference.resources);
    };

    const auto addBoth = [&](int i) {
        const auto s = session(i);
        rows.AddSessionRow(s);
        reference.AddSession(s);
        const auto f = file(i);
        rows.AddResourceRow(f);
        reference.AddResource(f);
    };
    for (int i = 0; i < mix.identities; ++i) addBoth(i);
    check(0);
    const int total = mix.add + mix.update + mix.remove + mix.sort + mix.clear + mix.batch;
    for (int step = 1; step <= mix.operations; ++step) {
        const int i = pick(mix.identities);
        int roll = pick(total);
        if ((roll -= mix.add) < 0) {
            addBoth(i);
        } else if ((roll -= mix.update) < 0) {
            const auto s = session(i);
            rows.UpdateSessionRow(s);
            reference.UpdateSession(s);
        } else if ((roll -= mix.remove) < 0) {
            const auto s = session(i);
            rows.RemoveSessionRow(&s);
            reference.RemoveSession(s);
            const auto f = file(i);
            rows.RemoveResourceRow(&f);
            reference.RemoveResource(f);
        } else if ((roll -= mix.sort) < 0) {
            const int column = pick(kSessionColumnCount + 1);  // one past the last: no order
            rows.SortSessionRows(column);
            ReferenceRows::Sort(reference.sessions, [&](const auto& a, const auto& b) {
                return CompareSessionRows(a, b, column, collation);
            });
            const int resourceColumn = pick(kResourceColumnCount);
            rows.SortResourceRows(resourceColumn);
            ReferenceRows::Sort(reference.resources, [&](const auto& a, const auto& b) {
                return CompareResourceRows(a, b, resourceColumn, collation);
            });
        } else if ((roll -= mix.clear) < 0) {
            rows.RemoveSessionRow(nullptr);
            reference.sessions.clear();
            rows.RemoveResourceRow(nullptr);
            reference.resources.clear();
        } else {
            // What one pass hands over at once: many vanished identities (some
            // twice, some not shown), then many new files.
            std::vector<TSessionInfo> sessions;
            std::vector<TFileInfo> files, added;
            for (int k = pick(300); k >= 0; --k) {
                sessions.push_back(session(pick(mix.identities)));
                files.push_back(file(pick(mix.identities)));
            }
            for (int k = pick(200); k >= 0; --k) added.push_back(file(pick(mix.identities)));
            const auto pointers = [](const auto& infos) {
                std::vector<const typename std::decay_t<decltype(infos)>::value_type*> all;
                for (const auto& info : infos) all.push_back(&info);
                return all;
            };
            rows.RemoveSessionRows(pointers(sessions));
            rows.RemoveResourceRows(pointers(files));
            rows.AddResourceRows(pointers(added));
            for (const auto& s : sessions) reference.RemoveSession(s);
            for (const auto& f : files) reference.RemoveResource(f);
            for (const auto& f : added) reference.AddResource(f);
        }
        // The row the next operation would touch is the one the plain search finds.
        const auto probe = session(pick(mix.identities));
        ASSERT_EQ(rows.FindSessionRow(probe.ComputerName, probe.UserName),
                  reference.Find(reference.sessions, probe.ComputerName, kSessionUserName, probe.UserName))
            << mix.name << ", step " << step;
        if (step % 500 == 0 || step == mix.operations || (mix.batch && step % 10 == 0)) check(step);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FiveThousandRows, ListRowsAgreeWithReference,
    ::testing::Values(
        //      name                     seed  ids   ops  add upd rem sort clear batch
        RowMix{"steady updates",          1, 5000, 1500,  1, 20,  1,  0, 0, 0},
        RowMix{"churn in added order",    2, 5000, 1500, 10,  5, 10,  0, 0, 0},
        RowMix{"churn after sorting",     3, 5000, 1500, 20, 10, 20,  1, 0, 0},
        RowMix{"rebuilds between fills",  4, 5000, 1500, 20,  5,  5,  1, 1, 0},
        RowMix{"passes of many at once",  5, 5000,   60, 20,  5,  5,  1, 0, 10}),
    [](const ::testing::TestParamInfo<RowMix>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

}  // namespace
}  // namespace corvane::views
