#include "win/ui/Dialog.h"

#include <algorithm>
#include <cwchar>
#include <exception>
#include <vector>

#include "core/app/Geometry.h"
#include "win/ui/Dpi.h"
#include "win/ui/Window.h"

namespace corvane::win {

UniqueFont CreateUiFont(int dpi, bool underline, bool bold, bool italic, bool strikeOut) {
    return UniqueFont(CreateFontW(-MulDiv(12, dpi, 96), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, italic, underline,
                                  strikeOut, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                  DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS UI Gothic"));
}

INT_PTR Dialog::ShowModal(HWND owner) {
    dpi_ = WindowDpi(owner);
    // An empty template: style and caption only; the size and the controls
    // are set in WM_INITDIALOG.
    const std::wstring caption = Caption();
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* tmpl = reinterpret_cast<DLGTEMPLATE*>(words.data());
    tmpl->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    tmpl->dwExtendedStyle = WS_EX_DLGMODALFRAME;
    tmpl->cdit = 0;
    words.push_back(0);  // no menu
    words.push_back(0);  // the standard dialog class
    for (wchar_t c : caption) words.push_back(static_cast<WORD>(c));
    words.push_back(0);
    owner_ = owner;
    NestedLoopScope nested;
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(words.data()), owner,
                                   &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Dialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lp);
        if (!self) return FALSE;  // not started by ShowModal: nobody handles it
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    INT_PTR result = FALSE;
    try {
        result = self->HandleDialogMessage(msg, wp, lp);
    } catch (const std::exception& e) {
        self->ShowError(e.what());
    } catch (...) {
        self->ShowError("Unexpected error");
    }
    if (msg == WM_NCDESTROY) self->hwnd_ = nullptr;
    return result;
}

INT_PTR Dialog::HandleDialogMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG: {
            font_ = CreateUiFont(dpi_);
            SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
            PlaceOverOwner();
            OnInit();
            return TRUE;  // focus on the first control with a tab stop
        }
        case WM_COMMAND:
            OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
            return TRUE;
        default: {
            INT_PTR result = FALSE;
            if (OnMessage(msg, wp, lp, result)) {
                SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
                return TRUE;
            }
            return FALSE;
        }
    }
}

void Dialog::PlaceOverOwner() {
    const SIZE client = ClientSize();
    RECT frame{0, 0, Scale(client.cx), Scale(client.cy)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT over{};
    if (owner_ && IsWindowVisible(owner_) && !IsIconic(owner_)) {
        GetWindowRect(owner_, &over);
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    }
    // Centred over the owner, but never off the screen the owner is on.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromRect(&over, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& area = monitor.rcWork;
    const auto at = app::KeptInside(app::CenteredOver(over.left, over.top, over.right, over.bottom, width, height),
                                    width, height, area.left, area.top, area.right, area.bottom);
    SetWindowPos(hwnd_, nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Dialog::OnCommand(WORD id, WORD, HWND) {
    if (id == IDOK || id == IDCANCEL) End(id);
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

void Dialog::ShowError(const std::string& message) { ShowErrorBox(hwnd_, message); }

HWND Dialog::AddControl(const wchar_t* className, const wchar_t* text, DWORD style, int left, int top, int width,
                        int height, int id, DWORD exStyle) {
    HWND control = CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, Scale(left), Scale(top),
                                   Scale(width), Scale(height), hwnd_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                   nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return control;
}

void Dialog::SetGlyph(HWND button, Glyph glyph) {
    const int size = Scale(16);
    BITMAPINFO bi = TopDownDib32(size, size);
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    UniqueBitmap bitmap(CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) {
        DeleteDC(dc);
        return;
    }
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap.get());
    const COLORREF color = glyph == Glyph::Ok ? RGB(0, 128, 0) : RGB(200, 0, 0);
    HPEN pen = CreatePen(PS_SOLID, std::max(2, size / 8), color);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    auto at = [size](int v) { return v * size / 16; };
    if (glyph == Glyph::Ok) {
        MoveToEx(dc, at(2), at(8), nullptr);
        LineTo(dc, at(6), at(12));
        LineTo(dc, at(14), at(3));
    } else {
        MoveToEx(dc, at(3), at(3), nullptr);
        LineTo(dc, at(13), at(13));
        MoveToEx(dc, at(13), at(3), nullptr);
        LineTo(dc, at(3), at(13));
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
    GdiFlush();
    // GDI leaves the alpha bytes alone: what it drew becomes opaque.
    auto* pixel = static_cast<DWORD*>(bits);
    for (int i = 0; i < size * size; ++i)
        if (pixel[i] & 0x00FFFFFF) pixel[i] |= 0xFF000000;
    UniqueImageList list(ImageList_Create(size, size, ILC_COLOR32, 1, 0));
    if (!list) return;
    ImageList_Add(list.get(), bitmap.get(), nullptr);
    BUTTON_IMAGELIST image{};
    image.himl = list.get();
    image.margin = {Scale(2), 0, 0, 0};
    image.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
    if (SendMessageW(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&image)))
        glyphs_.push_back(std::move(list));
}

int Dialog::TextWidth(const wchar_t* text) const {
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_.get());
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &extent);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return (extent.cx * 96 + dpi_ - 1) / dpi_;
}

std::string Dialog::ItemText(int id) const {
    HWND item = GetDlgItem(hwnd_, id);
    const int length = GetWindowTextLengthW(item);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(item, text.data(), length + 1)));
    return Narrow(text);
}

void Dialog::SetItemText(int id, const std::string& text) { SetDlgItemTextW(hwnd_, id, Wide(text).c_str()); }

bool Dialog::ItemChecked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

void Dialog::SetItemChecked(int id, bool checked) {
    CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

}  // namespace corvane::win
