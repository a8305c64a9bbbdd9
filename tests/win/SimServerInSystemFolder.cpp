// The program takes netapi32.dll from the system folder only, so the
// simulated server goes there, over Wine's own, before any test runs; with
// netapi32 preferred native (scripts/wine-run) the program's binding finds it
// as it would find the system's. Its state files stay beside this program.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "WinTestSupport.h"

namespace corvane::test {
namespace {

class SimServerInSystemFolder : public ::testing::Environment {
public:
    void SetUp() override {
        wchar_t system[MAX_PATH] = {};
        ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
        const std::wstring target = std::wstring(system) + L"\\netapi32.dll";
        const std::wstring built = (ProgramFolder() / "netapi32.dll").wstring();
        ASSERT_TRUE(CopyFileW(built.c_str(), target.c_str(), FALSE)) << "error " << GetLastError();
    }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new SimServerInSystemFolder);

}  // namespace
}  // namespace corvane::test
