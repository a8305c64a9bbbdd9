#pragma once
// The send-message dialog: one line of text, OK and Cancel.
#include <string>

#include "win/ui/Dialog.h"

namespace corvane::win {

class TInputSendMessageForm final : public Dialog {
public:
    enum : int { kEditMessage = 101 };

    // The text of EditMessage when the dialog ended (UTF-8).
    const std::string& Message() const noexcept { return message_; }

protected:
    std::wstring Caption() const override { return L"送信メッセージ入力"; }
    SIZE ClientSize() const override { return {315, 75}; }
    void OnInit() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    std::string message_;
};

}  // namespace corvane::win
