#pragma once
// corvane-service.exe and the service manager: the status it is told (with
// check points and wait hints while the service starts and stops) and the
// controls it sends. Stop, shutdown and preshutdown all end the service the
// same way, once.
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>

namespace corvane::win {

inline constexpr wchar_t kServiceName[] = L"Corvane";
inline constexpr wchar_t kServiceDisplayName[] = L"Corvane 共有監視サービス";

class ServiceControl {
public:
    // Registers the control handler of the service `name`; false when the
    // service manager refused (the process was not started as that service).
    bool Register(const wchar_t* name);

    // What a stop request does; called at once when one came before this.
    // The call runs on the service manager's thread and must not wait.
    void OnStop(std::function<void()> stop);
    bool StopRequested() const noexcept { return stopRequested_; }

    // START_PENDING / STOP_PENDING with the next check point and a hint of
    // how long until the next report.
    void Starting(DWORD waitHintMs);
    void Stopping(DWORD waitHintMs);
    // RUNNING: stop, shutdown and preshutdown are accepted from now on.
    void Running();
    // STOPPED, with the exit code the service manager records (and its
    // recovery actions look at).
    void Stopped(DWORD win32ExitCode, DWORD serviceSpecificCode = 0);

private:
    static DWORD WINAPI Handler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
    void Report(DWORD state, DWORD waitHintMs, DWORD exitCode = NO_ERROR, DWORD specificCode = 0);

    SERVICE_STATUS_HANDLE handle_ = nullptr;  // not closed: the service manager owns it
    std::mutex lock_;
    SERVICE_STATUS status_{};
    std::function<void()> stop_;
    std::atomic<bool> stopRequested_{false};
};

}  // namespace corvane::win
