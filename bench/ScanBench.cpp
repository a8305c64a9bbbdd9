// Cost of one session scan and one resource scan on the main thread, without
// the 1 ms pauses (a counting sleeper), as the number of sessions grows.
#include <benchmark/benchmark.h>

#include "core/watch/WatchThread.h"
#include "support/FakeWatchPorts.h"

namespace {

using namespace corvane;
using namespace corvane::test;

struct Fixture : WatchFixture {
    explicit Fixture(int count) {
        owner.settings.IgnoreAutoRefresh = true;  // the default: views untouched between refreshes
        for (int i = 0; i < count; ++i) {
            const std::string pc = "PC" + std::to_string(i);
            server.sessions.push_back({pc, "user" + std::to_string(i), 1, 10, 0});
            server.files.push_back({static_cast<std::uint32_t>(i), 1, 0, "D:\\share\\file" + std::to_string(i) + ".txt",
                                    "user" + std::to_string(i)});
        }
    }
};

void BM_SteadyPass(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    f.thread.Pass();  // the first pass tracks everything
    for (auto _ : state) f.thread.Pass();
    state.counters["pauses/pass"] = benchmark::Counter(static_cast<double>(f.sleeper.sleeps) /
                                                       static_cast<double>(state.iterations() + 1));
}
BENCHMARK(BM_SteadyPass)->RangeMultiplier(4)->Range(4, 256);

}  // namespace
