// Cost of one steady pass of both scans through fakes (enumeration, keys,
// matching, the main thread's part), per record, as the load grows. The
// cost per record should stay flat: the matching is by index, not by search.
#include <benchmark/benchmark.h>

#include <chrono>
#include <mutex>

#include "core/views/ListRows.h"
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
struct TimedRunner : IMainThreadRunner {
    std::chrono::duration<double> spent{0};
    void RunOnMainThread(const std::function<void()>& call) override {
        const auto start = std::chrono::steady_clock::now();
        call();
        spent += std::chrono::steady_clock::now() - start;
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

}  // namespace
