// Passes of both scans over enumeration records built from the input: names
// empty, huge, with commas, line breaks, NUL, malformed UTF-8 and encoded
// surrogates, repeated and changing case; statuses flapping between success
// and errors; limits and modes switched between passes. After every pass the
// tracked sessions are exactly the listed ones, every event is one line, and
// the log accounts for every session that came and went.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "core/text/Collation.h"
#include "support/FakeWatchPorts.h"

namespace {

using namespace corvane;

const text::SimpleCollation kCollation;

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Names the passes draw from, so that records repeat, come back and change
// letter case between passes.
const std::vector<std::string> kNames = {
    "PC01", "pc01", "Taro", "TARO", "", ",", "a,b", "\r\n2026/12/08 09:00:00,切断検出,X", std::string("n\0l", 3),
    "\t", "ＰＣ", "ｐｃ", "ß", "\xED\xA0\x80", "\xFF\xFE", "\xE3\x81", "鷗外", "😀", "İ", "i",
    std::string(10000, 'W'), std::string(10000, 'w'),
};

std::string Name(FuzzedDataProvider& input) {
    const auto pick = input.ConsumeIntegralInRange<std::size_t>(0, kNames.size());
    if (pick < kNames.size()) return kNames[pick];
    return input.ConsumeRandomLengthString(40);
}

std::uint32_t Status(FuzzedDataProvider& input) {
    static const std::uint32_t kFailures[] = {5, 53, 2114, 234, 0xFFFFFFFFu};
    const auto pick = input.ConsumeIntegralInRange<std::size_t>(0, 12);
    return pick < std::size(kFailures) ? kFailures[pick] : 0;
}

bool SameSession(const TSessionInfo& a, const TSessionInfo& b) {
    return kCollation.EqualIgnoreCase(a.ComputerName, b.ComputerName) &&
           kCollation.EqualIgnoreCase(a.UserName, b.UserName);
}

// The session rows as the list holds them: a row is there once at most, an
// update of a row that is not there adds it, removing a missing row does
// nothing.
struct SessionRows : IWatchViews {
    std::vector<TSessionInfo> rows;
    long Find(const TSessionInfo& info) const {
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (SameSession(rows[i], info)) return static_cast<long>(i);
        return -1;
    }
    void AddSessionRow(const TSessionInfo& info) override {
        if (Find(info) < 0) rows.push_back(info);
    }
    void UpdateSessionRow(const TSessionInfo& info) override { AddSessionRow(info); }
    void RemoveSessionRow(const TSessionInfo* info) override {
        if (!info) return rows.clear();
        const long row = Find(*info);
        if (row >= 0) rows.erase(rows.begin() + row);
    }
    void AddResourceRow(const TFileInfo&) override {}
    void RemoveResourceRow(const TFileInfo*) override {}
};

struct Fixture {
    test::FakeOwner owner;
    test::FakeServer server;
    test::FakeResolver resolver;
    SessionRows views;
    test::FakeLog log;
    test::FakeClock clock;
    test::FakeNotifier notifier;
    test::DirectRunner runner;
    test::CountingWait wait;
    TWatchThread thread{WatchContext{owner, server, resolver, views, log, clock, notifier, runner, wait, kCollation}};
};

struct Tally {
    std::size_t logged = 0;  // lines already checked
    long sessions = 0;       // connects less ends
    std::size_t ends = 0;    // automatic disconnections
};

void CheckNewLines(const Fixture& f, Tally& tally) {
    for (; tally.logged < f.log.lines.size(); ++tally.logged) {
        const std::string& line = f.log.lines[tally.logged];
        for (unsigned char c : line) FUZZ_CHECK(c >= 0x20);
        if (StartsWith(line, "接続検出,")) {
            ++tally.sessions;
        } else if (StartsWith(line, "切断検出,")) {
            --tally.sessions;
        } else if (StartsWith(line, "接続時間による自動切断,") || StartsWith(line, "アイドル時間による自動切断,")) {
            --tally.sessions;
            ++tally.ends;
        } else {
            FUZZ_CHECK(StartsWith(line, "アクセス検出,"));
        }
    }
}

// The identities the session scan must track after a successful listing: the
// records before the first empty user name, once each, with the numbers of
// the last record of each, less those over a limit.
std::vector<SessionRecord> Expected(const std::vector<SessionRecord>& records, const Settings& settings) {
    std::vector<SessionRecord> identities;
    for (const auto& r : records) {
        if (r.UserName.empty()) break;
        bool found = false;
        for (auto& known : identities) {
            if (kCollation.EqualIgnoreCase(known.ComputerName, r.ComputerName) &&
                kCollation.EqualIgnoreCase(known.UserName, r.UserName)) {
                known.OpenCount = r.OpenCount;
                known.ConnectedSeconds = r.ConnectedSeconds;
                known.IdleSeconds = r.IdleSeconds;
                found = true;
                break;
            }
        }
        if (!found) identities.push_back(r);
    }
    std::vector<SessionRecord> kept;
    for (const auto& r : identities) {
        const bool overConn =
            settings.DisconnectConnTime > 0 && r.ConnectedSeconds > std::uint32_t(settings.DisconnectConnTime);
        const bool overIdle =
            settings.DisconnectIdleTime > 0 && r.IdleSeconds > std::uint32_t(settings.DisconnectIdleTime);
        if (!overConn && !overIdle) kept.push_back(r);
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Fixture f;
    f.resolver.hosts["PC01"] = {"10.0.0.1"};
    f.resolver.hosts["a,b"] = {"10.0.0.2"};
    f.resolver.hosts["SERVER"] = {"192.168.0.1"};
    if (input.ConsumeBool()) f.resolver.localName.reset();
    Tally tally;
    // Whether the rows can be held against the tracked sessions: a pass that
    // leaves the views alone, or cannot list the sessions, makes them stale
    // until the next rebuild.
    bool rowsFaithful = true;

    for (int pass = 0; pass < 12 && input.remaining_bytes() > 0; ++pass) {
        Settings& settings = f.owner.settings;
        settings.IgnoreLocalConnection = input.ConsumeBool();
        settings.IgnoreAutoRefresh = input.ConsumeBool();
        settings.IgnoreSharedResource = input.ConsumeBool();
        settings.DisconnectConnTime = input.ConsumeIntegralInRange<int>(-2, 40);
        settings.DisconnectIdleTime = input.ConsumeIntegralInRange<int>(-2, 40);
        f.owner.refreshRequested = input.ConsumeBool();
        f.server.sessionStatus = Status(input);
        f.server.fileStatus = Status(input);

        f.server.sessions.assign(input.ConsumeIntegralInRange<std::size_t>(0, 10), {});
        for (auto& s : f.server.sessions) {
            s.ComputerName = Name(input);
            s.UserName = Name(input);
            s.OpenCount = input.ConsumeIntegral<std::uint32_t>();
            s.ConnectedSeconds = input.ConsumeIntegralInRange<std::uint32_t>(0, 60);
            s.IdleSeconds = input.ConsumeIntegralInRange<std::uint32_t>(0, 60);
        }
        f.server.files.assign(input.ConsumeIntegralInRange<std::size_t>(0, 10), {});
        for (auto& r : f.server.files) {
            r.FileId = input.ConsumeIntegral<std::uint32_t>();
            r.PathName = Name(input);
            r.UserName = Name(input);
        }

        const std::size_t trackedBefore = f.thread.Sessions().size();
        const bool refreshView = !settings.IgnoreAutoRefresh || f.owner.refreshRequested;
        const bool rebuild = settings.IgnoreAutoRefresh && f.owner.refreshRequested;
        f.thread.Pass();
        CheckNewLines(f, tally);

        const auto& tracked = f.thread.Sessions();
        FUZZ_CHECK(tally.sessions == static_cast<long>(tracked.size()));
        // Each end was asked of the server once and told once.
        FUZZ_CHECK(f.server.deleted.size() == tally.ends);
        for (std::size_t i = 0; i < tracked.size(); ++i)
            for (std::size_t j = i + 1; j < tracked.size(); ++j) FUZZ_CHECK(!SameSession(tracked[i], tracked[j]));
        if (rebuild) rowsFaithful = true;
        if (!refreshView || f.server.sessionStatus != 0) rowsFaithful = false;
        if (rowsFaithful) {
            FUZZ_CHECK(f.views.rows.size() == tracked.size());
            for (const auto& session : tracked) FUZZ_CHECK(f.views.Find(session) >= 0);
        }
        if (f.server.sessionStatus != 0) {
            FUZZ_CHECK(tracked.size() == trackedBefore);
            continue;
        }
        // With local sessions watched every listed identity is tracked;
        // otherwise only some of them.
        const auto expected = Expected(f.server.sessions, settings);
        if (!settings.IgnoreLocalConnection) FUZZ_CHECK(tracked.size() == expected.size());
        FUZZ_CHECK(tracked.size() <= expected.size());
        for (const auto& session : tracked) {
            bool listed = false;
            for (const auto& r : expected) {
                if (kCollation.EqualIgnoreCase(r.ComputerName, session.ComputerName) &&
                    kCollation.EqualIgnoreCase(r.UserName, session.UserName)) {
                    FUZZ_CHECK(session.OpenCount == r.OpenCount);
                    FUZZ_CHECK(session.IdleSeconds == r.IdleSeconds);
                    listed = true;
                }
            }
            FUZZ_CHECK(listed);
        }
        if (!settings.IgnoreSharedResource && f.server.fileStatus == 0) {
            for (const auto& resource : f.thread.Resources()) {
                bool listed = false;
                for (const auto& r : f.server.files)
                    listed = listed || (kCollation.EqualIgnoreCase(r.PathName, resource.PathName) &&
                                        kCollation.EqualIgnoreCase(r.UserName, resource.UserName));
                FUZZ_CHECK(listed);
            }
        }
    }
    return 0;
}
