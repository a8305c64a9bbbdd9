// The two system icons in front of the session image list must be visible
// pictures, also where the icon library keeps its transparency in the mask.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "win/app/ListViewReportList.h"
#include "win/ui/UniqueResource.h"

namespace corvane::test {
namespace {

// Number of pixels that drawing the image changes on a white background.
int PaintedPixels(HIMAGELIST images, int index) {
    BITMAPINFO bi = win::TopDownDib32(16, 16);
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    auto* pixels = static_cast<std::uint32_t*>(bits);
    for (int i = 0; i < 256; ++i) pixels[i] = 0x00FFFFFF;
    ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
    GdiFlush();
    int painted = 0;
    for (int i = 0; i < 256; ++i) painted += (pixels[i] & 0x00FFFFFF) != 0x00FFFFFF;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return painted;
}

TEST(ListIcons, SystemIconsComeFirstAndAreVisible) {
    win::UniqueImageList images(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 0));
    ImageList_ReplaceIcon(images.get(), -1, LoadIconW(nullptr, IDI_WARNING));  // the designed image
    win::LoadListIcons(images.get());
    ASSERT_EQ(ImageList_GetImageCount(images.get()), 3);
    EXPECT_GT(PaintedPixels(images.get(), 0), 20);
    EXPECT_GT(PaintedPixels(images.get(), 1), 20);
    EXPECT_GT(PaintedPixels(images.get(), 2), 20);
}

}  // namespace
}  // namespace corvane::test
