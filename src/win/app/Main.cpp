// Program entry: one instance per session, the main window, the message loop.
#include <windows.h>
#include <commctrl.h>

#include "win/app/CorvaneForm.h"
#include "win/ui/UniqueResource.h"

namespace {

constexpr wchar_t kMutexName[] = L"Corvane-Mutex";

int RunMessageLoop(corvane::win::TCorvaneForm& form) {
    MSG msg;
    for (;;) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
            if (form.Handle() && form.Accelerators() &&
                TranslateAcceleratorW(form.Handle(), form.Accelerators(), &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (form.Handle()) form.Idle();
        // Idle work done: wait for the next message.
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) WaitMessage();
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    corvane::win::UniqueHandle existing(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kMutexName));
    if (existing) return 0;  // another instance runs
    // Held for the life of the process, so the name exists exactly as long as we run.
    corvane::win::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kMutexName));

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    corvane::win::TCorvaneForm form;
    if (!form.Create()) return 0;
    form.Show(showCommand);
    RunMessageLoop(form);
    return 0;
}
