#pragma once
// A small move-only owner for Win32 handles.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <string_view>
#include <utility>

namespace corvane::win {

template <typename Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Handle h) noexcept : handle_(h) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return Traits::IsValid(handle_); }
    Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void reset(Handle h = Traits::Invalid()) noexcept {
        if (Traits::IsValid(handle_)) Traits::Close(handle_);
        handle_ = h;
    }

private:
    Handle handle_ = Traits::Invalid();
};

template <typename H, auto CloseFn>
struct NullHandleTraits {
    using Handle = H;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { CloseFn(h); }
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

using UniqueHandle = UniqueResource<NullHandleTraits<HANDLE, &CloseHandle>>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueIcon = UniqueResource<NullHandleTraits<HICON, &DestroyIcon>>;
using UniqueMenu = UniqueResource<NullHandleTraits<HMENU, &DestroyMenu>>;
using UniqueWindow = UniqueResource<NullHandleTraits<HWND, &DestroyWindow>>;
using UniqueModule = UniqueResource<NullHandleTraits<HMODULE, &FreeLibrary>>;
using UniqueFont = UniqueResource<NullHandleTraits<HFONT, &DeleteObject>>;
using UniqueImageList = UniqueResource<NullHandleTraits<HIMAGELIST, &ImageList_Destroy>>;
using UniqueAccel = UniqueResource<NullHandleTraits<HACCEL, &DestroyAcceleratorTable>>;
using UniqueBitmap = UniqueResource<NullHandleTraits<HBITMAP, &DeleteObject>>;

// Header of a top-down 32-bit DIB (blue, green, red, alpha bytes).
inline BITMAPINFO TopDownDib32(int width, int height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    return bi;
}

// UTF-8 <-> UTF-16 for the W functions.
std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

}  // namespace corvane::win
