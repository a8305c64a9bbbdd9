#pragma once
// A text label that works as a link: it takes its hot look while the cursor
// is over it and its click look while pressed, and, with Execution on, hands
// its own text to the shell's "OPEN" verb when pressed.
#include <windows.h>

#include <functional>
#include <string>

#include "win/ui/UniqueResource.h"
#include "win/ui/Window.h"

namespace corvane::win {

// A set of font styles.
enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

class TUrlLabel final : public Window {
public:
    TUrlLabel();

    // Creates the label as a child of `parent` (pixels at 96 DPI, scaled).
    HWND Create(HWND parent, const std::wstring& text, int left, int top, int width, int height, int id);

    // Properties: stored, and shown at the next notification.
    COLORREF HotColor = RGB(0, 0, 255);
    TFontStyles HotStyle = fsUnderline;
    COLORREF ClickColor = RGB(255, 0, 0);
    TFontStyles ClickStyle = fsUnderline;
    bool HotTrack = true;
    bool Execution = false;
    HCURSOR Cursor = nullptr;  // the hand-point cursor

    // The look it has now.
    COLORREF FontColor() const noexcept { return color_; }
    TFontStyles FontStyle() const noexcept { return style_; }
    const std::wstring& Text() const noexcept { return text_; }

    // How the text is opened; replaced by tests. Arguments: the window that
    // holds the label and the text.
    std::function<void(HWND, const std::wstring&)> OpenWithShell;

    // The five notifications.
    void Loaded();
    void MouseEnter();
    void MouseLeave();
    void MouseDown();
    void MouseUp();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void SetLook(COLORREF color, TFontStyles style);
    void Paint();

    std::wstring text_;
    COLORREF color_;
    TFontStyles style_ = 0;
    COLORREF normalColor_;
    TFontStyles normalStyle_ = 0;
    bool tracking_ = false;
    int dpi_ = 96;  // of the parent when created
    UniqueFont font_;
};

}  // namespace corvane::win
