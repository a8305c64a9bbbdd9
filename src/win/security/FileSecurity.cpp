#include "win/security/FileSecurity.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

// "S-1-5-..." of the account this process runs as; empty when unknown or
// SYSTEM, which the list names already.
std::wstring ProcessUserSid() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    const UniqueHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);  // aligned for TOKEN_USER's pointer
    auto* user = reinterpret_cast<TOKEN_USER*>(buffer.data());
    if (!GetTokenInformation(token.get(), TokenUser, user, size, &size)) return {};
    if (IsWellKnownSid(user->User.Sid, WinLocalSystemSid)) return {};
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(user->User.Sid, &text)) return {};
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

// The descriptor, made once for the life of the process.
struct Descriptor {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes{};

    Descriptor() noexcept {
        try {
            // P: protected, nothing inherited; FA full control, FR read.
            std::wstring sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
            if (const std::wstring user = ProcessUserSid(); !user.empty()) sddl += L"(A;;FR;;;" + user + L")";
            if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                      nullptr))
                descriptor = nullptr;
        } catch (...) {
            descriptor = nullptr;
        }
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = descriptor;
        attributes.bInheritHandle = FALSE;
    }
    ~Descriptor() { LocalFree(descriptor); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

Descriptor& TheDescriptor() noexcept {
    static Descriptor descriptor;
    return descriptor;
}

}  // namespace

SECURITY_ATTRIBUTES* AdministratorsOnlyFile() noexcept {
    Descriptor& d = TheDescriptor();
    return d.descriptor ? &d.attributes : nullptr;
}

DWORD RestrictToAdministrators(const wchar_t* path) noexcept {
    Descriptor& d = TheDescriptor();
    if (!d.descriptor) return ERROR_INVALID_SECURITY_DESCR;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(d.descriptor, &present, &dacl, &defaulted)) return GetLastError();
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(path), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, dacl, nullptr);
}

}  // namespace corvane::win
