#pragma once
// What the Windows tests share: the folder of the test program (where the
// program's files and the simulated server live) and a wait that keeps the
// thread's messages and hand-overs served.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "win/ui/MainThreadRunner.h"

namespace corvane::test {

inline std::filesystem::path ProgramFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path();
}

// Serves messages and hand-overs until `done` holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    win::MainThreadRunner::WaitServing([&] { return done() || std::chrono::steady_clock::now() > end; });
    return done();
}

inline void PumpFor(int ms) { PumpUntil([] { return false; }, ms); }

}  // namespace corvane::test
