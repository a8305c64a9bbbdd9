#include "win/about/UrlLabel.h"

#include <shellapi.h>

#include "win/security/DesktopShell.h"
#include "win/ui/Dialog.h"
#include "win/ui/Dpi.h"

namespace corvane::win {
namespace {

constexpr wchar_t kClassName[] = L"TUrlLabel";

}  // namespace

TUrlLabel::TUrlLabel()
    : Cursor(LoadCursorW(nullptr, IDC_HAND)),
      color_(GetSysColor(COLOR_WINDOWTEXT)),
      normalColor_(GetSysColor(COLOR_WINDOWTEXT)) {
    OpenWithShell = [](HWND owner, const std::wstring& text) {
        OpenAsDesktopUser(text, owner);  // a failure only leaves the look
    };
}

HWND TUrlLabel::Create(HWND parent, const std::wstring& text, int left, int top, int width, int height, int id) {
    static const bool registered = [] {
        RegisterWindowClass(kClassName, nullptr, nullptr);
        return true;
    }();
    (void)registered;
    text_ = text;
    dpi_ = WindowDpi(parent);
    font_ = CreateUiFont(dpi_);
    const auto scale = [this](int pixels) { return MulDiv(pixels, dpi_, 96); };
    HWND hwnd = CreateWindowObject(0, kClassName, text.c_str(), WS_CHILD | WS_VISIBLE, scale(left), scale(top),
                                   scale(width), scale(height), parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)));
    Loaded();
    return hwnd;
}

void TUrlLabel::SetLook(COLORREF color, TFontStyles style) {
    if (style != style_ || !font_) {
        font_ = CreateUiFont(dpi_, (style & fsUnderline) != 0, (style & fsBold) != 0,
                             (style & fsItalic) != 0, (style & fsStrikeOut) != 0);
    }
    color_ = color;
    style_ = style;
    if (Handle()) InvalidateRect(Handle(), nullptr, TRUE);
}

void TUrlLabel::Loaded() {
    normalColor_ = color_;
    normalStyle_ = style_;
}

void TUrlLabel::MouseEnter() {
    if (HotTrack) SetLook(HotColor, HotStyle);
}

void TUrlLabel::MouseLeave() {
    if (HotTrack) SetLook(normalColor_, normalStyle_);
}

void TUrlLabel::MouseDown() {
    if (HotTrack) SetLook(ClickColor, ClickStyle);
    if (Execution && OpenWithShell) OpenWithShell(GetAncestor(Handle(), GA_ROOT), text_);
}

void TUrlLabel::MouseUp() {
    if (!HotTrack) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(Handle(), &cursor);
    RECT client{};
    GetClientRect(Handle(), &client);
    if (PtInRect(&client, cursor))
        SetLook(HotColor, HotStyle);
    else
        SetLook(normalColor_, normalStyle_);
}

void TUrlLabel::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    RECT client{};
    GetClientRect(Handle(), &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ old = SelectObject(dc, font_.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color_);
    DrawTextW(dc, text_.c_str(), -1, &client, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(Handle(), &ps);
}

LRESULT TUrlLabel::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_SETCURSOR:
            if (LOWORD(lp) == HTCLIENT && Cursor) {
                SetCursor(Cursor);
                return TRUE;
            }
            break;
        case WM_MOUSEMOVE:
            if (!tracking_) {
                TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, Handle(), 0};
                tracking_ = TrackMouseEvent(&track) != FALSE;
                MouseEnter();
            }
            return 0;
        case WM_MOUSELEAVE:
            tracking_ = false;
            MouseLeave();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            SetCapture(Handle());
            MouseDown();
            return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            if (GetCapture() == Handle()) ReleaseCapture();
            MouseUp();
            return 0;
        case WM_GETDLGCODE:
            return DLGC_STATIC;
        default:
            break;
    }
    return Window::HandleMessage(msg, wp, lp);
}

}  // namespace corvane::win
