#include "win/service/ServiceConfig.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "win/events/EventLogReporter.h"
#include "win/service/ServiceControl.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

using UniqueService = UniqueResource<NullHandleTraits<SC_HANDLE, &CloseServiceHandle>>;

constexpr DWORD kResetAfterSeconds = 24 * 60 * 60;
constexpr DWORD kPreshutdownMs = 20000;

DWORD Change(SC_HANDLE service, DWORD level, void* info) {
    return ChangeServiceConfig2W(service, level, info) ? NO_ERROR : GetLastError();
}

}  // namespace

DWORD ConfigureService() {
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    // SERVICE_START: restart actions may only be set by one who may start it.
    UniqueService service(OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) return GetLastError();

    SC_ACTION actions[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = kResetAfterSeconds;
    failure.cActions = ARRAYSIZE(actions);
    failure.lpsaActions = actions;
    // Every step is tried: a system that lacks one (Wine has no required
    // privileges) still gets the others.
    DWORD result = NO_ERROR;
    const auto step = [&](DWORD level, void* info) {
        const DWORD code = Change(service.get(), level, info);
        if (result == NO_ERROR) result = code;
    };
    // The names the Services console shows (the installer's tables keep ASCII).
    if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, kServiceDisplayName))
        result = GetLastError();
    wchar_t description[] = L"ファイルサーバーのセッションと開かれているファイルを監視してログに記録し、"
                            L"設定した時間を超えたセッションを切断します。ログと設定はプログラムと同じフォルダーにあります。";
    SERVICE_DESCRIPTIONW text{description};
    step(SERVICE_CONFIG_DESCRIPTION, &text);
    step(SERVICE_CONFIG_FAILURE_ACTIONS, &failure);

    SERVICE_FAILURE_ACTIONS_FLAG onErrorExit{TRUE};
    step(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrorExit);

    // A multi-string: each name, then one more terminator. Bypassing traverse
    // checks is the one privilege every process keeps; the server functions
    // need the Administrators group, which LocalSystem has, not a privilege.
    wchar_t privileges[] = L"SeChangeNotifyPrivilege\0";
    SERVICE_REQUIRED_PRIVILEGES_INFOW required{privileges};
    step(SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required);

    SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
    step(SERVICE_CONFIG_SERVICE_SID_INFO, &sid);

    SERVICE_PRESHUTDOWN_INFO preshutdown{kPreshutdownMs};
    step(SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown);
    return result;
}

bool ServiceWatches() {
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    UniqueService service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!service) return false;
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) return true;
    DWORD size = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    return size != 0 && QueryServiceConfigW(service.get(), config, size, &size) &&
           config->dwStartType != SERVICE_DISABLED;
}

DWORD RunningServiceProcessId() {
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return 0;
    UniqueService service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
    if (!service) return 0;
    SERVICE_STATUS_PROCESS status{};
    DWORD size = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &size))
        return 0;
    return status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
}

bool ProcessElevated() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    UniqueHandle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

bool RunElevated() {
    const std::wstring program = ProgramPath();
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOASYNC;
    run.lpVerb = L"runas";
    run.lpFile = program.c_str();
    run.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&run) != FALSE;
}

}  // namespace corvane::win
