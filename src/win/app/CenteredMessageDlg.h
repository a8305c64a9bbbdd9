#pragma once
// The program's question and message boxes: centred over the window that
// asks, under the caption it gives; over the screen under the standard
// caption of the kind when that window is minimised.
#include <windows.h>

#include <string>

namespace corvane::win {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };
enum class TMsgDlgButtons { mbOK, mbYesNo };

// The standard caption of a kind: "警告", "エラー", "情報", "確認".
const wchar_t* StandardCaption(TMsgDlgType type);

// Shows the box modally and returns IDYES, IDNO or IDOK. With Yes and No,
// Yes is the default button and Escape or the close box answer No.
int CenteredMessageDlg(HWND form, const std::string& message, const std::string& caption, TMsgDlgType type,
                       TMsgDlgButtons buttons);

// Control ids inside the box.
inline constexpr int kMessageDlgTextId = 0xFFFF - 1;
inline constexpr int kMessageDlgIconId = 0xFFFF - 2;

}  // namespace corvane::win
