#include "win/app/CenteredMessageDlg.h"

#include <algorithm>

#include "win/ui/Dialog.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

// Layout in pixels at 96 DPI.
constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kGap = 12;
constexpr int kButtonWidth = 75, kButtonHeight = 25, kButtonGap = 8;
constexpr int kMaxTextWidth = 420;

class MessageDialog final : public Dialog {
public:
    MessageDialog(HWND form, std::wstring text, std::wstring caption, TMsgDlgType type, TMsgDlgButtons buttons)
        : text_(std::move(text)), caption_(std::move(caption)), type_(type), buttons_(buttons) {
        Measure(form);
    }

    int Result(INT_PTR ended) const {
        if (buttons_ == TMsgDlgButtons::mbOK) return IDOK;
        return ended == IDYES ? IDYES : IDNO;  // Escape and the close box answer No
    }

protected:
    std::wstring Caption() const override { return caption_; }
    SIZE ClientSize() const override { return client_; }

    void OnInit() override {
        const wchar_t* iconName = IDI_WARNING;
        switch (type_) {
            case TMsgDlgType::mtError: iconName = IDI_ERROR; break;
            case TMsgDlgType::mtInformation: iconName = IDI_INFORMATION; break;
            case TMsgDlgType::mtConfirmation: iconName = IDI_QUESTION; break;
            case TMsgDlgType::mtWarning: break;
        }
        HWND icon = AddControl(L"STATIC", L"", SS_ICON, kMargin, kMargin, kIconSize, kIconSize, kMessageDlgIconId);
        SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, iconName)), 0);
        AddControl(L"STATIC", text_.c_str(), SS_LEFT | SS_NOPREFIX, textLeft_, textTop_, textSize_.cx, textSize_.cy,
                   kMessageDlgTextId);
        const int top = client_.cy - kMargin - kButtonHeight;
        if (buttons_ == TMsgDlgButtons::mbOK) {
            HWND ok = AddControl(L"BUTTON", L"OK", WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON,
                                 (client_.cx - kButtonWidth) / 2, top, kButtonWidth, kButtonHeight, IDOK);
            SetFocus(ok);
        } else {
            const int left = (client_.cx - 2 * kButtonWidth - kButtonGap) / 2;
            HWND yes = AddControl(L"BUTTON", L"はい(&Y)", WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, left, top,
                                  kButtonWidth, kButtonHeight, IDYES);
            AddControl(L"BUTTON", L"いいえ(&N)", WS_TABSTOP | BS_PUSHBUTTON, left + kButtonWidth + kButtonGap, top,
                       kButtonWidth, kButtonHeight, IDNO);
            SendMessageW(Handle(), DM_SETDEFID, IDYES, 0);
            SetFocus(yes);
        }
    }

    void OnCommand(WORD id, WORD, HWND) override {
        if (id == IDOK || id == IDCANCEL || id == IDYES || id == IDNO) End(id);
    }

private:
    // The text's size decides the box's size.
    void Measure(HWND) {
        const int dpi = Dpi();
        UniqueFont font = CreateUiFont(dpi);
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font.get());
        RECT r{0, 0, MulDiv(kMaxTextWidth, dpi, 96), 0};
        DrawTextW(dc, text_.c_str(), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        textSize_ = {MulDiv(r.right, 96, dpi) + 4, MulDiv(r.bottom, 96, dpi) + 2};
        textLeft_ = kMargin + kIconSize + kGap;
        const int bodyHeight = std::max<int>(kIconSize, textSize_.cy);
        textTop_ = kMargin + (bodyHeight - textSize_.cy) / 2;
        const int buttonsWidth = buttons_ == TMsgDlgButtons::mbOK ? kButtonWidth : 2 * kButtonWidth + kButtonGap;
        client_.cx = std::max<int>(textLeft_ + textSize_.cx + kMargin, buttonsWidth + 2 * kMargin);
        client_.cy = kMargin + bodyHeight + kGap + kButtonHeight + kMargin;
    }

    std::wstring text_;
    std::wstring caption_;
    TMsgDlgType type_;
    TMsgDlgButtons buttons_;
    SIZE textSize_{};
    SIZE client_{};
    int textLeft_ = 0;
    int textTop_ = 0;
};

}  // namespace

const wchar_t* StandardCaption(TMsgDlgType type) {
    switch (type) {
        case TMsgDlgType::mtWarning: return L"警告";
        case TMsgDlgType::mtError: return L"エラー";
        case TMsgDlgType::mtInformation: return L"情報";
        case TMsgDlgType::mtConfirmation: return L"確認";
    }
    return L"";
}

int CenteredMessageDlg(HWND form, const std::string& message, const std::string& caption, TMsgDlgType type,
                       TMsgDlgButtons buttons) {
    // A minimised window: the standard box over the screen under the kind's
    // caption. Otherwise over the window (Dialog centres over its owner).
    const bool minimized = form && IsIconic(form);
    MessageDialog box(form, Wide(message), minimized ? StandardCaption(type) : Wide(caption), type, buttons);
    return box.Result(box.ShowModal(form));
}

}  // namespace corvane::win
