#pragma once
// Base of the program's modal dialogs. The dialog is built from an empty
// template and its controls are created in code at their positions in pixels
// at 96 dots per inch, scaled to the screen's DPI like the main window. The
// modal loop is the system's, so hand-overs to the main thread go on being
// served while a dialog is open. Exceptions never leave the dialog procedure.
#include <windows.h>

#include <string>
#include <vector>

#include "win/ui/UniqueResource.h"

namespace corvane::win {

class Dialog {
public:
    Dialog() = default;
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    HWND Handle() const noexcept { return hwnd_; }

    // Shows the dialog modally, centred over `owner` (over the screen when
    // the owner is missing or minimised); returns the id that ended it
    // (IDOK, IDCANCEL...), or -1 when it could not be shown.
    INT_PTR ShowModal(HWND owner);

    // The DPI of the layout: the owner's monitor's when the dialog is shown
    // (the system's before that, or without an owner).
    int Dpi() const noexcept { return dpi_; }
    int Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }

protected:
    // The caption and the designed client size in pixels at 96 DPI.
    virtual std::wstring Caption() const = 0;
    virtual SIZE ClientSize() const = 0;
    // Creates the controls; the window exists, sized and placed.
    virtual void OnInit() = 0;
    // A command from a control or a key (IDOK for Enter, IDCANCEL for Escape
    // and the close box). The default ends the dialog with IDOK or IDCANCEL.
    virtual void OnCommand(WORD id, WORD code, HWND control);
    // Other messages; return true when handled (result in `result`).
    virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result);
    // Shows an error that a handler raised.
    virtual void ShowError(const std::string& message);

    // A child control at its designed place (pixels at 96 DPI), in tab order
    // of creation, with the dialog's font.
    HWND AddControl(const wchar_t* className, const wchar_t* text, DWORD style, int left, int top, int width,
                    int height, int id, DWORD exStyle = 0);
    HFONT Font() const noexcept { return font_.get(); }
    // The standard glyph of an OK (a check mark) or Cancel (a cross) button,
    // left of its caption.
    enum class Glyph { Ok, Cancel };
    void SetGlyph(HWND button, Glyph glyph);
    // Width in pixels at 96 DPI of `text` in the dialog's font, rounded up,
    // so that room made from it holds the text at every scale.
    int TextWidth(const wchar_t* text) const;
    void End(INT_PTR result) { EndDialog(hwnd_, result); }

    // Text of a child control, in UTF-8; setting it from UTF-8.
    std::string ItemText(int id) const;
    void SetItemText(int id, const std::string& text);
    bool ItemChecked(int id) const;
    void SetItemChecked(int id, bool checked);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR HandleDialogMessage(UINT msg, WPARAM wp, LPARAM lp);
    void PlaceOverOwner();

    HWND hwnd_ = nullptr;
    HWND owner_ = nullptr;
    int dpi_ = 96;
    UniqueFont font_;
    std::vector<UniqueImageList> glyphs_;
};

// The font of the program's windows: "MS UI Gothic", 12 pixels at 96 DPI,
// Shift-JIS character set, scaled to the screen.
UniqueFont CreateUiFont(int dpi, bool underline = false, bool bold = false, bool italic = false,
                        bool strikeOut = false);

}  // namespace corvane::win
