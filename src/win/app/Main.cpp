// Program entry: one instance per session, the main window, the message loop.
#include <windows.h>
#include <commctrl.h>

#include <exception>

#include "win/app/CorvaneForm.h"
#include "win/ui/UniqueResource.h"
#include "win/ui/Window.h"

namespace {

constexpr wchar_t kMutexName[] = L"Corvane-Mutex";

int RunMessageLoop(corvane::win::TCorvaneForm& form) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        form.Dispatch(msg);
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) form.Idle();
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    corvane::win::UniqueHandle existing(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kMutexName));
    if (existing) return 0;  // another instance runs
    // Held for the life of the process, so the name exists exactly as long as we run.
    corvane::win::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kMutexName));

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    try {
        corvane::win::TCorvaneForm form;
        if (!form.Create()) return 0;
        form.Show(showCommand);
        RunMessageLoop(form);
    } catch (const std::exception& e) {
        // Only start-up and tear-down run outside the window procedures.
        corvane::win::ShowErrorBox(nullptr, e.what());
        return 1;
    }
    return 0;
}
