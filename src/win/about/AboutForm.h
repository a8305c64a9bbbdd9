#pragma once
// The About box: the program's icon, name and version, a second line and
// the link to the program's page.
#include "win/about/UrlLabel.h"
#include "win/ui/Dialog.h"

namespace corvane::win {

inline constexpr wchar_t kProgramVersionText[] = L"Corvane ver1.19";
inline constexpr wchar_t kAboutSecondLine[] = L"共有フォルダ接続モニタ";
inline constexpr wchar_t kProgramPageAddress[] = L"https://corvane.example.org/";

class TAboutForm final : public Dialog {
public:
    enum : int { kImage1 = 401, kLabel1, kLabel2, kUrlLabel };

    TUrlLabel& UrlLabel() noexcept { return urlLabel_; }

protected:
    std::wstring Caption() const override { return L"バージョン情報"; }
    SIZE ClientSize() const override { return {309, 99}; }
    void OnInit() override;

private:
    TUrlLabel urlLabel_;
};

}  // namespace corvane::win
