#include "win/app/InputSendMessageForm.h"

namespace corvane::win {

void TInputSendMessageForm::OnInit() {
    AddControl(L"EDIT", L"", WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL, 8, 8, 297, 20, kEditMessage, WS_EX_CLIENTEDGE);
    SetGlyph(AddControl(L"BUTTON", L"OK", WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 56, 40, 89, 25, IDOK), Glyph::Ok);
    SetGlyph(AddControl(L"BUTTON", L"キャンセル", WS_TABSTOP | BS_PUSHBUTTON, 160, 40, 89, 25, IDCANCEL),
             Glyph::Cancel);
}

void TInputSendMessageForm::OnCommand(WORD id, WORD, HWND) {
    if (id == IDOK) {
        message_ = ItemText(kEditMessage);
        End(IDOK);
    } else if (id == IDCANCEL) {
        End(IDCANCEL);
    }
}

}  // namespace corvane::win
