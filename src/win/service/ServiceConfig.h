#pragma once
// What the installer cannot say about the service in its own tables:
// "corvane-service.exe --configure", run by the MSI after the service is
// installed and before it starts, gives it its recovery actions, its
// required privileges and its service SID; and the tray's question whether
// the service is the computer's watcher.
#include <windows.h>

namespace corvane::win {

// Sets the service's Japanese name and description, the recovery actions (restart after 5 s, 5 s, then 60 s; the count
// starts again after a day without a failure, and an exit with an error
// counts as a failure), the required privileges (only
// SeChangeNotifyPrivilege: every other privilege of LocalSystem is taken
// from the process) and an unrestricted service SID, and gives the
// preshutdown notice 20 s. Every step is tried; 0, or the system's code of
// the first that failed.
DWORD ConfigureService();

// Whether the service is this computer's one watcher: installed, and running
// or set to start (a stopped service that is not disabled comes back, and
// the tray waits for it). False when it is missing, disabled or cannot be asked.
bool ServiceWatches();

// The process id of the running service, from the service manager; 0 when
// it is not running (the tray trusts the feed's pipe of this process only).
DWORD RunningServiceProcessId();

// Whether this process runs elevated (a full administrator's token).
bool ProcessElevated();
// Starts this program again, asking for elevation; false when it could not
// (the person declined).
bool RunElevated();

}  // namespace corvane::win
