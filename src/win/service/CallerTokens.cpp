#include "win/service/CallerTokens.h"

#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

// Membership as an access check sees it: a deny-only group does not count.
bool Member(HANDLE identification, WELL_KNOWN_SID_TYPE type, bool& read) noexcept {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    if (!CreateWellKnownSid(type, nullptr, sid, &size) || !CheckTokenMembership(identification, sid, &member)) {
        read = false;
        return false;
    }
    return member != FALSE;
}

std::string AccountOf(HANDLE token) {
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return {};
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer);
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, user->User.Sid, name, &nameSize, domain, &domainSize, &use)) return {};
    return Narrow(domain) + "\\" + Narrow(name);
}

}  // namespace

feed::TokenFacts ReadTokenFacts(HANDLE token) noexcept {
    feed::TokenFacts facts;
    if (!token) return facts;
    // CheckTokenMembership takes an impersonation token only.
    HANDLE raw = nullptr;
    if (!DuplicateToken(token, SecurityIdentification, &raw)) return facts;
    UniqueHandle identification(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) return facts;
    facts.Read = true;
    facts.Elevated = elevation.TokenIsElevated != 0;
    facts.Administrator = Member(identification.get(), WinBuiltinAdministratorsSid, facts.Read);
    facts.Interactive = Member(identification.get(), WinInteractiveSid, facts.Read);
    return facts;
}

PipeCaller ReadPipeCaller(HANDLE pipe) noexcept {
    PipeCaller caller;
    try {
        if (GetNamedPipeClientProcessId(pipe, &caller.ProcessId)) {
            UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, caller.ProcessId));
            HANDLE raw = nullptr;
            if (process && OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE, &raw)) {
                UniqueHandle token(raw);
                caller.Tokens.Process = ReadTokenFacts(token.get());
                caller.Account = AccountOf(token.get());
            }
        }
        if (ImpersonateNamedPipeClient(pipe)) {
            HANDLE raw = nullptr;
            const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, &raw);
            // Back to the service's own rights before anything else is done;
            // a thread that cannot go back must not go on.
            if (!RevertToSelf()) ExitProcess(1);
            if (opened) {
                UniqueHandle token(raw);
                caller.Tokens.Impersonation = ReadTokenFacts(token.get());
            }
        }
    } catch (...) {
        caller.Tokens = {};
    }
    return caller;
}

}  // namespace corvane::win
