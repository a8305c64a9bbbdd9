// Program entry: one instance per session, the main window, the message loop.
#include <windows.h>
#include <commctrl.h>

#include <exception>

#include "win/app/CorvaneForm.h"
#include "win/service/FeedServer.h"
#include "win/security/SystemLibrary.h"
#include "win/service/ServiceConfig.h"
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
    // Before anything can load a library: none from the program's folder.
    corvane::win::RestrictLibrarySearchToSystem();

    // One watcher per computer: where the service watches, this program is
    // its face and runs as whoever started it. Without the service it is the
    // watcher itself, which takes an administrator: the manifest asks for no
    // elevation (the face needs none), so the program asks for it here.
    const bool face = corvane::win::ServiceWatches();
    if (!face && !corvane::win::ProcessElevated()) return corvane::win::RunElevated() ? 0 : 1;

    // Held for the life of the process, so the name exists exactly as long as we
    // run. Creating it and learning whether it existed is one step, so two copies
    // started at the same moment cannot both find the name free. A name that
    // exists but may not be opened (access denied) is another instance too.
    const HANDLE created = CreateMutexW(nullptr, FALSE, kMutexName);
    const DWORD createError = GetLastError();
    corvane::win::UniqueHandle mutex(created);
    if (createError == ERROR_ALREADY_EXISTS || (!created && createError == ERROR_ACCESS_DENIED)) return 0;

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    try {
        corvane::win::TCorvaneForm form;
        if (face) {
            form.UseService([] { return corvane::win::RunningServiceProcessId(); }, corvane::win::kFeedPipeName);
        }
        if (!form.Create()) return 0;
        form.Show(showCommand);
        RunMessageLoop(form);
    } catch (const std::exception& e) {
        // Only start-up and tear-down run outside the window procedures.
        return corvane::win::ShowStartupError(e.what());
    }
    return 0;
}
