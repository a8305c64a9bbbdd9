// Cost of one steady pass of both scans through fakes (enumeration, keys,
// matching, the main thread's part), per record, as the load grows. The
// cost per record should stay flat: the matching is by index, not by search.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <mutex>

#include "core/views/ListRows.h"
#include "core/views/ShownRows.h"
#include "core/watch/WatchThread.h"
#include "support/FakeWatchPorts.h"

namespace {

using namespace corvane;
using namespace corvane::test;

struct Fixture : WatchFixture {
    Fixture(int sessions, int files) {
        owner.settings.IgnoreAutoRefresh = true;  // the default: views untouched between refreshes
        for (int i = 0; i < sessions; ++i) {
            const std::string pc = "PC-営業" + std::to_string(i);
            resolver.hosts[pc] = {"10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256)};
            server.sessions.push_back({pc, "user" + std::to_string(i), 1, 10, 0});
        }
        for (int i = 0; i < files; ++i)
            server.files.push_back({static_cast<std::uint32_t>(i), 1, 0,
                                    "D:\\share\\見積書\\file" + std::to_string(i) + ".xlsx",
                                    "user" + std::to_string(i % (sessions ? sessions : 1))});
    }
};

void BM_SteadyPass(benchmark::State& state) {
    const int sessions = static_cast<int>(state.range(0)), files = static_cast<int>(state.range(1));
    Fixture f(sessions, files);
    f.thread.Pass();  // the first pass tracks everything
    for (auto _ : state) f.thread.Pass();
    const double records = sessions + files;
    state.counters["records"] = records;
    state.counters["per_record"] =
        benchmark::Counter(records * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SteadyPass)->Args({10, 50})->Args({40, 500})->Args({200, 5000})->Args({1000, 20000})
    ->Unit(benchmark::kMillisecond);

// A pass in which every record is new and the previous ones have all gone:
// the adds, the log lines and the removal walks.
void BM_ChurnPass(benchmark::State& state) {
    const int sessions = static_cast<int>(state.range(0)), files = static_cast<int>(state.range(1));
    Fixture a(sessions, files);
    auto other = a.server;
    for (auto& s : other.sessions) s.UserName += "x";
    for (auto& r : other.files) r.PathName += "x";
    for (auto _ : state) {
        std::swap(a.server.sessions, other.sessions);
        std::swap(a.server.files, other.files);
        a.thread.Pass();
        a.log.lines.clear();
    }
    const double records = sessions + files;
    state.counters["per_record"] =
        benchmark::Counter(records * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ChurnPass)->Args({10, 50})->Args({200, 5000})->Args({1000, 20000})->Unit(benchmark::kMillisecond);

// The window thread's share of a pass with the lists wired to the core's row
// model: only the time inside the hand-overs counts (the enumerations and
// keys are the watch thread's). `refresh` = 1 is F5 in the manual mode (the
// lists emptied and filled anew), 0 a steady pass of automatic refresh.
// Counted in the thread's own CPU time, so that other programs on a shared
// machine do not add to it.
std::chrono::duration<double> ThreadTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

struct TimedRunner : IMainThreadRunner {
    std::chrono::duration<double> spent{0};
    std::chrono::duration<double> longest{0};  // one hand-over: how long the window waits
    void RunOnMainThread(const std::function<void()>& call) override {
        const auto start = ThreadTime();
        call();
        const std::chrono::duration<double> took = ThreadTime() - start;
        spent += took;
        longest = std::max(longest, took);
    }
};

void BM_WindowWorkOfPass(benchmark::State& state) {
    const int sessions = static_cast<int>(state.range(0)), files = static_cast<int>(state.range(1));
    const bool refresh = state.range(2) != 0;
    Fixture f(sessions, files);
    f.owner.settings.IgnoreAutoRefresh = refresh;
    std::recursive_mutex lock;
    views::ListRows rows(lock, f.collation);
    TimedRunner runner;
    TWatchThread thread{WatchContext{f.owner, f.server, f.resolver, rows, f.log, f.clock, f.notifier, runner,
                                     f.wait, f.collation}};
    f.owner.refreshRequested = true;
    thread.Pass();  // everything tracked and shown
    for (auto _ : state) {
        f.owner.refreshRequested = refresh;
        runner.spent = {};
        thread.Pass();
        state.SetIterationTime(runner.spent.count());
    }
    state.counters["rows"] = rows.Sessions().Count() + rows.Resources().Count();
}
BENCHMARK(BM_WindowWorkOfPass)
    ->ArgNames({"sessions", "files", "f5"})
    ->Args({200, 5000, 0})->Args({1000, 20000, 0})->Args({200, 5000, 1})->Args({1000, 20000, 1})
    ->UseManualTime()->Unit(benchmark::kMillisecond);

// The window thread's share of an automatic-refresh pass in which every
// other session and its files vanish at once (a department that logs off
// together), the lists full before it. The rows go from all through the
// lists, not from their end.
void BM_WindowWorkOfHalfGone(benchmark::State& state) {
    const int sessions = static_cast<int>(state.range(0)), files = static_cast<int>(state.range(1));
    Fixture f(sessions, files);
    f.owner.settings.IgnoreAutoRefresh = false;
    const auto everyone = f.server;
    auto half = f.server;
    std::erase_if(half.sessions, [](const SessionRecord& s) { return s.UserName.back() % 2 == 1; });
    std::erase_if(half.files, [](const FileRecord& r) { return r.UserName.back() % 2 == 1; });
    std::recursive_mutex lock;
    views::ListRows rows(lock, f.collation);
    TimedRunner runner;
    TWatchThread thread{WatchContext{f.owner, f.server, f.resolver, rows, f.log, f.clock, f.notifier, runner,
                                     f.wait, f.collation}};
    double longest = 0;
    for (auto _ : state) {
        f.server.sessions = everyone.sessions;
        f.server.files = everyone.files;
        thread.Pass();  // everything back, untimed
        f.server.sessions = half.sessions;
        f.server.files = half.files;
        runner.spent = runner.longest = {};
        thread.Pass();
        state.SetIterationTime(runner.spent.count());
        longest = std::max(longest, runner.longest.count());
        f.log.lines.clear();
    }
    state.counters["rows_left"] = rows.Sessions().Count() + rows.Resources().Count();
    state.counters["longest_ms"] = longest * 1000;
}
BENCHMARK(BM_WindowWorkOfHalfGone)
    ->ArgNames({"sessions", "files"})->Args({200, 5000})->Args({1000, 20000})
    ->UseManualTime()->Unit(benchmark::kMillisecond);

// The window thread's share of typing a file's name into the filter box,
// the lists full: each key re-filters the open files (the first one looks at
// every row, the others at the rows still shown; Backspace looks at every
// row again). Timed per key; `longest_ms` is the slowest key, the one the
// window's answer waits for.
void BM_FilterKeystroke(benchmark::State& state) {
    const int sessions = static_cast<int>(state.range(0)), files = static_cast<int>(state.range(1));
    Fixture f(sessions, files);
    f.owner.settings.IgnoreAutoRefresh = false;
    std::recursive_mutex lock;
    views::ListRows rows(lock, f.collation);
    TimedRunner runner;
    TWatchThread thread{WatchContext{f.owner, f.server, f.resolver, rows, f.log, f.clock, f.notifier, runner,
                                     f.wait, f.collation}};
    thread.Pass();  // every row shown
    views::ShownRows shown(rows.Resources());
    const std::string typed = "FILE" + std::to_string(files / 2) + ".XLSX";
    double longest = 0;
    for (auto _ : state) {
        shown.SetFilter("");
        std::chrono::duration<double> spent{0};
        for (std::size_t length = 1; length <= typed.size(); ++length) {
            const auto start = ThreadTime();
            shown.SetFilter(typed.substr(0, length));
            const std::chrono::duration<double> took = ThreadTime() - start;
            spent += took;
            longest = std::max(longest, took.count());
        }
        const auto start = ThreadTime();
        shown.SetFilter(typed.substr(0, typed.size() - 1));  // Backspace
        const std::chrono::duration<double> took = ThreadTime() - start;
        longest = std::max(longest, took.count());
        state.SetIterationTime((spent + took).count() / static_cast<double>(typed.size() + 1));
    }
    state.counters["shown"] = shown.Count();
    state.counters["longest_ms"] = longest * 1000;
}
BENCHMARK(BM_FilterKeystroke)
    ->ArgNames({"sessions", "files"})->Args({200, 5000})->Args({1000, 20000})
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
