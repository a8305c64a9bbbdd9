// corvane-service.exe: the Windows service "Corvane", this computer's one
// watcher from boot, whoever is logged on. Started by the service manager;
// "--configure" is run once by the installer (see ServiceConfig.h).
#include <windows.h>

#include <cwchar>
#include <exception>
#include <string>

#include "win/events/EventLogReporter.h"
#include "win/service/ServiceConfig.h"
#include "win/service/ServiceControl.h"
#include "win/service/WatchService.h"
#include "win/security/SystemLibrary.h"
#include "win/ui/UniqueResource.h"

namespace {

using namespace corvane::win;

// The start is reported within this; preparing takes a fraction of it.
constexpr DWORD kStartHintMs = 3000;
constexpr DWORD kStopHintMs = 15000;
// The service-specific exit code of a service that cannot watch.
constexpr DWORD kExitNoServer = 1;
constexpr DWORD kExitFault = 2;

std::string ProgramFolder() {
    std::wstring path = ProgramPath();
    path.erase(path.find_last_of(L"\\/") + 1);
    return Narrow(path);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    ServiceControl control;
    if (!control.Register(kServiceName)) return;
    control.Starting(kStartHintMs);
    try {
        WatchService service(ProgramFolder());
        control.OnStop([&service] { service.Stop(); });
        // However this block is left, a late stop request no longer reaches the service.
        struct Unhook {
            ServiceControl& control;
            ~Unhook() { control.OnStop(nullptr); }
        } unhook{control};
        if (!service.Prepare()) {
            service.Finish();
            control.Stopped(ERROR_SERVICE_SPECIFIC_ERROR, kExitNoServer);
            return;
        }
        // Running before the first pass, which may take long on a busy server.
        control.Running();
        service.Run();
        control.Stopping(kStopHintMs);
        service.Finish();
        control.Stopped(NO_ERROR);
    } catch (const std::exception&) {
        // Out of memory or a broken system: the recovery actions restart it.
        control.Stopped(ERROR_SERVICE_SPECIFIC_ERROR, kExitFault);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    // Before anything can load a library: none from the program's folder.
    RestrictLibrarySearchToSystem();
    if (commandLine && std::wcscmp(commandLine, L"--configure") == 0) return static_cast<int>(ConfigureService());
    SERVICE_TABLE_ENTRYW services[] = {{const_cast<LPWSTR>(kServiceName), &ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(services)) return static_cast<int>(GetLastError());
    return 0;
}
