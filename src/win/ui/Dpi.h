#pragma once
// The display scale of windows and the small pictures drawn for it. The
// per-monitor functions of Windows 10 are looked up at run time, so the
// program still starts on older systems, where the system's DPI is used.
#include <windows.h>

namespace corvane::win {

// LOGPIXELSY of the screen: the system's DPI.
int SystemDpi();
// The DPI of the monitor `window` is on (the system's DPI before Windows 10
// 1607 or without a window).
int WindowDpi(HWND window);
// The DPI of the monitor that shows most of `area` (the nearest monitor when
// none does): what a window made there is drawn at. The system's DPI before
// Windows 8.1.
int MonitorDpi(const RECT& area);
// The side of a small icon (SM_CXSMICON) at `dpi`.
int SmallIconSide(int dpi);
// Icon `name` of the program at exactly `side` pixels, drawn from the nearest
// size the icon file has; destroyed by the caller (DestroyIcon).
HICON LoadProgramIcon(const wchar_t* name, int side);
// The resource id of the command strip and of the session picture drawn for
// small images of `side` pixels (16, 20, 24 or 32).
int CommandsBitmapId(int side);
int SessionsBitmapId(int side);

}  // namespace corvane::win
