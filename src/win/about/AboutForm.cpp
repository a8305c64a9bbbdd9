#include "win/about/AboutForm.h"

#include "../../../res/resource.h"

namespace corvane::win {
namespace {

// The lines are 16 pixels apart; a label as tall as that keeps the lower
// strokes of a CJK font that is taller than its nominal 12 pixels.
constexpr int kLabelHeight = 16;

}  // namespace

void TAboutForm::OnInit() {
    SetGlyph(AddControl(L"BUTTON", L"OK", WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 117, 64, 75, 25, IDOK),
             Glyph::Ok);
    HWND image = AddControl(L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, 8, 8, 33, 33, kImage1);
    const int iconSize = Scale(32);
    SendMessageW(image, STM_SETICON,
                 reinterpret_cast<WPARAM>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINICON),
                                                     IMAGE_ICON, iconSize, iconSize, LR_SHARED)),
                 0);
    AddControl(L"STATIC", kProgramVersionText, SS_CENTER | SS_NOPREFIX, 79, 8, 153, kLabelHeight, kLabel1);
    AddControl(L"STATIC", kAboutSecondLine, SS_LEFT | SS_NOPREFIX, 68, 24, 174, kLabelHeight, kLabel2);
    urlLabel_.Execution = true;
    urlLabel_.Create(Handle(), kProgramPageAddress, 66, 40, 178, kLabelHeight, kUrlLabel);
    SetFocus(GetDlgItem(Handle(), IDOK));
}

}  // namespace corvane::win
