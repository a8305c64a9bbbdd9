#pragma once
// The system's event log as the reports' destination: the Application log,
// source "Corvane", with the message table compiled into corvane.exe.
#include <windows.h>

#include <string>

#include "core/events/EventReport.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

inline constexpr wchar_t kEventSourceName[] = L"Corvane";
inline constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvane";

class EventLogReporter final : public IEventReporter {
public:
    // `messageFile`: the file holding the message table (corvane.exe itself).
    explicit EventLogReporter(std::wstring messageFile);

    // Writes the source's key when it is missing or names another message
    // file, then opens the source. The key's result is returned; a source
    // that does not open is told by the reports.
    std::uint32_t Register() noexcept override;
    std::uint32_t Report(const EventReport& report) noexcept override;

private:
    std::uint32_t Open() noexcept;

    std::wstring messageFile_;
    UniqueResource<NullHandleTraits<HANDLE, &DeregisterEventSource>> source_;
};

// The full path of the running program.
std::wstring ProgramPath();

}  // namespace corvane::win
