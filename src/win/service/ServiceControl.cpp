#include "win/service/ServiceControl.h"

namespace corvane::win {

bool ServiceControl::Register(const wchar_t* name) {
    handle_ = RegisterServiceCtrlHandlerExW(name, &ServiceControl::Handler, this);
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    return handle_ != nullptr;
}

void ServiceControl::OnStop(std::function<void()> stop) {
    std::function<void()> now;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = std::move(stop);
        if (stopRequested_) now = stop_;
    }
    if (now) now();
}

void ServiceControl::Starting(DWORD waitHintMs) { Report(SERVICE_START_PENDING, waitHintMs); }

void ServiceControl::Stopping(DWORD waitHintMs) { Report(SERVICE_STOP_PENDING, waitHintMs); }

void ServiceControl::Running() { Report(SERVICE_RUNNING, 0); }

void ServiceControl::Stopped(DWORD win32ExitCode, DWORD serviceSpecificCode) {
    Report(SERVICE_STOPPED, 0, win32ExitCode, serviceSpecificCode);
}

void ServiceControl::Report(DWORD state, DWORD waitHintMs, DWORD exitCode, DWORD specificCode) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!handle_) return;
    // A stop that was asked for is not undone by a late "running".
    if (state == SERVICE_RUNNING && stopRequested_) return;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status_.dwCheckPoint = pending ? (status_.dwCurrentState == state ? status_.dwCheckPoint + 1 : 1) : 0;
    status_.dwCurrentState = state;
    status_.dwWaitHint = waitHintMs;
    status_.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN : 0;
    status_.dwWin32ExitCode = specificCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : exitCode;
    status_.dwServiceSpecificExitCode = specificCode;
    SetServiceStatus(handle_, &status_);
}

// The service manager's thread: nothing here waits, and nothing is thrown out.
DWORD WINAPI ServiceControl::Handler(DWORD control, DWORD, LPVOID, LPVOID context) {
    auto* self = static_cast<ServiceControl*>(context);
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
        case SERVICE_CONTROL_PRESHUTDOWN: {
            if (self->stopRequested_.exchange(true)) return NO_ERROR;
            try {
                // The log's last lines and the report of where they went take
                // a moment; the stop then reports its own progress.
                self->Report(SERVICE_STOP_PENDING, 15000);
                std::function<void()> stop;
                {
                    std::lock_guard<std::mutex> guard(self->lock_);
                    stop = self->stop_;
                }
                if (stop) stop();
            } catch (...) {
                // The flag is set: the service ends at its next look.
            }
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

}  // namespace corvane::win
