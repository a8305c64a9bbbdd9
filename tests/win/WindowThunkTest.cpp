// The window procedure thunk of the window base.
#include <windows.h>

#include <gtest/gtest.h>

#include "win/ui/Window.h"

namespace corvane::test {
namespace {

constexpr wchar_t kClass[] = L"CorvaneThunkProbe";
constexpr UINT kProbeMessage = WM_APP + 7;

class Probe final : public win::Window {
public:
    HWND Make() { return CreateWindowObject(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr); }

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
        if (msg == kProbeMessage) return 42;
        return Window::HandleMessage(msg, wp, lp);
    }
};

// Faults seen first-hand: the system swallows a fault inside a window
// procedure called back from the kernel, and creation merely fails then.
LONG faults = 0;
LONG CALLBACK CountFault(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) InterlockedIncrement(&faults);
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(WindowThunk, WindowWithoutItsObjectIsRefusedAndOwnWindowsAreServed) {
    win::Window::RegisterWindowClass(kClass, nullptr, nullptr);
    // Made directly, with no object as the creation parameter.
    faults = 0;
    void* handler = AddVectoredExceptionHandler(1, &CountFault);
    ASSERT_NE(handler, nullptr);
    const HWND stray = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(stray, nullptr);
    EXPECT_EQ(faults, 0);

    Probe probe;
    const HWND own = probe.Make();
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(probe.Handle(), own);
    EXPECT_EQ(SendMessageW(own, kProbeMessage, 0, 0), 42);
    DestroyWindow(own);
    EXPECT_EQ(probe.Handle(), nullptr);
}

}  // namespace
}  // namespace corvane::test
