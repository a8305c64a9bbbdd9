#include "win/security/DesktopShell.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>

namespace corvane::win {
namespace {

// An owned COM reference.
template <typename T>
class ComRef {
public:
    ComRef() noexcept = default;
    ~ComRef() {
        if (p_) p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const noexcept { return p_; }
    T* get() const noexcept { return p_; }
    T** put() noexcept { return &p_; }
    void** put_void() noexcept { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

// COM for this thread for one call, when the thread has none yet.
class ComScope {
public:
    ComScope() noexcept : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    // A thread already in the other apartment kind can still make the calls.
    bool Usable() const noexcept { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text) noexcept : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const noexcept { return text_; }

private:
    BSTR text_;
};

// The desktop's shell object: the desktop window's folder view, asked for
// the application it belongs to. Every step is a documented interface of
// the shell; any that is missing means no desktop shell to ask.
HRESULT DesktopShellDispatch(ComRef<IShellDispatch2>& shell) {
    ComRef<IShellWindows> windows;
    HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  windows.put_void());
    if (FAILED(hr)) return hr;
    VARIANT none;
    VariantInit(&none);
    long window = 0;
    ComRef<IDispatch> desktop;
    hr = windows->FindWindowSW(&none, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.put());
    if (hr != S_OK || !desktop.get()) return FAILED(hr) ? hr : E_FAIL;
    ComRef<IServiceProvider> services;
    if (FAILED(hr = desktop->QueryInterface(IID_IServiceProvider, services.put_void()))) return hr;
    ComRef<IShellBrowser> browser;
    if (FAILED(hr = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())))
        return hr;
    ComRef<IShellView> view;
    if (FAILED(hr = browser->QueryActiveShellView(view.put()))) return hr;
    if (!view.get()) return E_FAIL;
    ComRef<IDispatch> background;
    if (FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void()))) return hr;
    ComRef<IShellFolderViewDual> folderView;
    if (FAILED(hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.put_void()))) return hr;
    ComRef<IDispatch> application;
    if (FAILED(hr = folderView->get_Application(application.put()))) return hr;
    if (!application.get()) return E_FAIL;
    return application->QueryInterface(IID_IShellDispatch2, shell.put_void());
}

}  // namespace

HRESULT OpenThroughDesktop(const std::wstring& target) noexcept {
    const ComScope com;
    if (!com.Usable()) return E_FAIL;
    ComRef<IShellDispatch2> shell;
    if (const HRESULT hr = DesktopShellDispatch(shell); FAILED(hr)) return hr;
    const Bstr file(target);
    const Bstr verb(L"open");
    if (!file.get() || !verb.get()) return E_OUTOFMEMORY;
    VARIANT none, operation, show;
    VariantInit(&none);
    VariantInit(&operation);
    operation.vt = VT_BSTR;
    operation.bstrVal = verb.get();
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    return shell->ShellExecute(file.get(), none, none, operation, show);
}

int OpenAsDesktopUser(const std::wstring& target, HWND owner) noexcept {
    if (SUCCEEDED(OpenThroughDesktop(target))) return 33;  // what ShellExecuteW calls success
    const HINSTANCE result = ShellExecuteW(owner, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

}  // namespace corvane::win
