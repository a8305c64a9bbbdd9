#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/views/ListRows.h"
#include "core/views/TimeStr.h"
#include "support/FakeReportList.h"
#include "support/WatchRecords.h"

namespace corvane::views {
namespace {

using corvane::testing::AsciiCollation;
using corvane::testing::FakeReportList;
using Strings = std::vector<std::string>;
using corvane::testing::Resource;
using corvane::testing::Session;



class ListRowsTest : public ::testing::Test {
protected:
    std::string Lookup(const std::string& name) {
        lookedUp.push_back(name);
        return name == "UNKNOWN" ? "(N/A)" : "10.0.0." + std::to_string(lookedUp.size());
    }

    FakeReportList sessions;
    FakeReportList resources;
    std::recursive_mutex lock;
    Strings lookedUp;
    AsciiCollation collation;
    ListRows rows{sessions, resources, lock, [this](const std::string& n) { return Lookup(n); },
                  collation};
};

TEST_F(ListRowsTest, AddSessionRowFillsEveryCellOnce) {
    rows.AddSessionRow(Session("PC1", "alice", 3, 90061, 59));
    rows.AddSessionRow(Session("pc1", "ALICE", 4, 1, 1));  // same session, other case

    ASSERT_EQ(sessions.RowCount(), 1);
    EXPECT_EQ(sessions.Rows()[0].Image, kSessionRowImage);
    EXPECT_EQ(sessions.Rows()[0].Cells,
              (Strings{"PC1", "10.0.0.1", "alice", "3", "1 d. 01:01:01", "00:00:59"}));
    EXPECT_EQ(lookedUp, Strings{"PC1"});
}

TEST_F(ListRowsTest, TwoUsersOnOneComputerHaveTheirOwnRows) {
    rows.AddSessionRow(Session("PC1", "alice"));
    rows.AddSessionRow(Session("OTHER", "alice"));
    rows.AddSessionRow(Session("PC1", "bob"));
    ASSERT_EQ(sessions.Column(kSessionUserName), (Strings{"alice", "alice", "bob"}));

    // The second PC1 row is found past the first one and past a foreign row.
    rows.UpdateSessionRow(Session("pc1", "BOB", 7));
    EXPECT_EQ(sessions.Column(kSessionOpenCount), (Strings{"1", "1", "7"}));

    auto bob = Session("PC1", "bob");
    rows.RemoveSessionRow(&bob);
    EXPECT_EQ(sessions.Column(kSessionComputerName), (Strings{"PC1", "OTHER"}));
    EXPECT_EQ(sessions.Column(kSessionUserName), (Strings{"alice", "alice"}));

    rows.RemoveSessionRow(&bob);  // gone already: nothing happens
    EXPECT_EQ(sessions.RowCount(), 2);
}

TEST_F(ListRowsTest, UserNameChangingOnlyInCaseKeepsTheRow) {
    rows.AddSessionRow(Session("PC1", "alice"));
    rows.UpdateSessionRow(Session("PC1", "Alice"));

    ASSERT_EQ(sessions.RowCount(), 1);
    EXPECT_EQ(sessions.CellText(0, kSessionUserName), "Alice");
    EXPECT_EQ(sessions.CellText(0, kSessionComputerName), "PC1");
}

TEST_F(ListRowsTest, UpdateWritesOnlyChangedCellsAndNeverCaptionOrAddress) {
    rows.AddSessionRow(Session("PC1", "alice", 1, 10, 5));
    const int writesAfterAdd = sessions.CellWrites;

    rows.UpdateSessionRow(Session("pc1", "alice", 1, 10, 5));
    EXPECT_EQ(sessions.CellWrites, writesAfterAdd);

    rows.UpdateSessionRow(Session("pc1", "alice", 2, 10, 6));
    EXPECT_EQ(sessions.CellWrites, writesAfterAdd + 2);
    EXPECT_EQ(sessions.Rows()[0].Cells,
              (Strings{"PC1", "10.0.0.1", "alice", "2", "00:00:10", "00:00:06"}));
    EXPECT_EQ(lookedUp.size(), 1u);  // the address is not looked up again
}

TEST_F(ListRowsTest, UpdateOfAMissingSessionAddsIt) {
    rows.UpdateSessionRow(Session("UNKNOWN", "carol", 2, 3600, 0));
    ASSERT_EQ(sessions.RowCount(), 1);
    EXPECT_EQ(sessions.Rows()[0].Cells,
              (Strings{"UNKNOWN", "(N/A)", "carol", "2", "01:00:00", "00:00:00"}));
}

TEST_F(ListRowsTest, RemoveWithNoneEmptiesOnlyItsList) {
    rows.AddSessionRow(Session("PC1", "alice"));
    rows.AddSessionRow(Session("PC2", "bob"));
    rows.AddResourceRow(Resource("alice", "C:\\share\\a.txt"));
    rows.AddResourceRow(Resource("bob", "C:\\share\\b.txt"));

    rows.RemoveSessionRow(nullptr);
    EXPECT_EQ(sessions.RowCount(), 0);
    EXPECT_EQ(resources.RowCount(), 2);

    rows.RemoveResourceRow(nullptr);
    EXPECT_EQ(resources.RowCount(), 0);
}

TEST_F(ListRowsTest, ResourceRowsHaveNoDuplicateTestAndRemoveOneAtATime) {
    rows.AddResourceRow(Resource("alice", "C:\\share\\a.txt"));
    rows.AddResourceRow(Resource("bob", "C:\\share\\a.txt"));
    rows.AddResourceRow(Resource("alice", "C:\\share\\b.txt"));
    rows.AddResourceRow(Resource("alice", "C:\\share\\b.txt"));
    ASSERT_EQ(resources.RowCount(), 4);
    EXPECT_EQ(resources.Rows()[0].Image, kResourceRowImage);
    EXPECT_EQ(resources.Rows()[0].Cells, (Strings{"alice", "C:\\share\\a.txt"}));

    auto b = Resource("ALICE", "c:\\SHARE\\B.TXT");
    rows.RemoveResourceRow(&b);
    EXPECT_EQ(resources.Column(kResourcePathName),
              (Strings{"C:\\share\\a.txt", "C:\\share\\a.txt", "C:\\share\\b.txt"}));
    auto missing = Resource("bob", "C:\\share\\b.txt");
    rows.RemoveResourceRow(&missing);
    EXPECT_EQ(resources.RowCount(), 3);
}

TEST(ListRowsLockTest, RowOperationsRunUnderTheListLock) {
    FakeReportList sessions;
    FakeReportList resources;
    std::recursive_mutex lock;
    AsciiCollation collation;
    int lookups = 0;
    bool lockedDuringLookup = false;
    // The address lookup runs inside AddSessionRow: another thread must find
    // the lock taken at that moment.
    ListRows rows(sessions, resources, lock,
                  [&](const std::string&) {
                      ++lookups;
                      std::thread probe([&] {
                          lockedDuringLookup = !lock.try_lock();
                          if (!lockedDuringLookup) lock.unlock();
                      });
                      probe.join();
                      return std::string("10.0.0.1");
                  },
                  collation);

    {
        // The caller may hold the lock already; UpdateSessionRow re-enters it
        // through AddSessionRow.
        std::lock_guard<std::recursive_mutex> guard(lock);
        rows.UpdateSessionRow(Session("PC1", "alice"));
    }
    EXPECT_EQ(lookups, 1);
    EXPECT_TRUE(lockedDuringLookup);
    EXPECT_EQ(sessions.RowCount(), 1);
    // Released afterwards.
    std::thread probe([&] {
        EXPECT_TRUE(lock.try_lock());
        lock.unlock();
    });
    probe.join();
}

class ListRowsSortTest : public ListRowsTest {
protected:
    void AddSessions(const std::vector<TSessionInfo>& infos) {
        for (const auto& info : infos) rows.AddSessionRow(info);
    }
};

TEST_F(ListRowsSortTest, OpenCountSortsAsIntegers) {
    AddSessions({Session("A", "u1", 10), Session("B", "u2", 9), Session("C", "u3", 100),
                 Session("D", "u4", 0)});
    rows.SortSessionRows(kSessionOpenCount);
    EXPECT_EQ(sessions.Column(kSessionOpenCount), (Strings{"0", "9", "10", "100"}));
}

TEST_F(ListRowsSortTest, TimesSortByDurationWithTheDayPart) {
    AddSessions({Session("A", "u1", 1, 86400, 90061), Session("B", "u2", 1, 86399, 4294967295u),
                 Session("C", "u3", 1, 172800, 59), Session("D", "u4", 1, 93784, 86399)});
    rows.SortSessionRows(kSessionConnectedTime);
    EXPECT_EQ(sessions.Column(kSessionConnectedTime),
              (Strings{"23:59:59", "1 d. 00:00:00", "1 d. 02:03:04", "2 d. 00:00:00"}));
    rows.SortSessionRows(kSessionIdleTime);
    EXPECT_EQ(sessions.Column(kSessionIdleTime),
              (Strings{"00:00:59", "23:59:59", "1 d. 01:01:01", "49710 d. 06:28:15"}));
}

TEST_F(ListRowsSortTest, NamesAndAddressesSortAsText) {
    // Lookup gives 10.0.0.1 .. 10.0.0.10 in order of adding.
    std::vector<TSessionInfo> infos;
    for (int i = 1; i <= 10; ++i) infos.push_back(Session("PC" + std::to_string(11 - i), "u"));
    AddSessions(infos);

    rows.SortSessionRows(kSessionAddress);
    EXPECT_EQ(sessions.CellText(0, kSessionAddress), "10.0.0.1");
    EXPECT_EQ(sessions.CellText(1, kSessionAddress), "10.0.0.10");
    EXPECT_EQ(sessions.CellText(9, kSessionAddress), "10.0.0.9");

    rows.SortSessionRows(kSessionComputerName);
    EXPECT_EQ(sessions.CellText(0, kSessionComputerName), "PC1");
    EXPECT_EQ(sessions.CellText(1, kSessionComputerName), "PC10");
    EXPECT_EQ(sessions.CellText(9, kSessionComputerName), "PC9");
    // The rows move whole.
    EXPECT_EQ(sessions.CellText(1, kSessionAddress), "10.0.0.1");
}

TEST_F(ListRowsSortTest, SortingTwiceKeepsAscendingAndNewRowsGoLast) {
    AddSessions({Session("B", "u", 2), Session("C", "u", 3), Session("A", "u", 1)});
    rows.SortSessionRows(kSessionComputerName);
    EXPECT_EQ(sessions.Column(0), (Strings{"A", "B", "C"}));
    rows.SortSessionRows(kSessionComputerName);
    EXPECT_EQ(sessions.Column(0), (Strings{"A", "B", "C"}));

    rows.AddSessionRow(Session("0", "u"));
    rows.UpdateSessionRow(Session("A", "u", 99));
    EXPECT_EQ(sessions.Column(0), (Strings{"A", "B", "C", "0"}));
}

TEST_F(ListRowsSortTest, ResourceListSortsByUserOrPath) {
    rows.AddResourceRow(Resource("bob", "C:\\b"));
    rows.AddResourceRow(Resource("carol", "C:\\a"));
    rows.AddResourceRow(Resource("alice", "C:\\c"));

    rows.SortResourceRows(kResourcePathName);
    EXPECT_EQ(resources.Column(kResourcePathName), (Strings{"C:\\a", "C:\\b", "C:\\c"}));
    EXPECT_EQ(resources.Column(kResourceUserName), (Strings{"carol", "bob", "alice"}));
    rows.SortResourceRows(kResourceUserName);
    EXPECT_EQ(resources.Column(kResourceUserName), (Strings{"alice", "bob", "carol"}));
}

}  // namespace
}  // namespace corvane::views
