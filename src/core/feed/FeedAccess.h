#pragma once
// Who may look at the feed and who may act through it. The service reads
// both of the caller's tokens: the one the pipe lets it impersonate and the
// one of the caller's process. Windows itself lists sessions to
// administrators only; so does the feed unless ShowToUsers lets the people
// logged on at the computer (the Interactive group) look too. Acting always
// takes an elevated administrator, on both tokens: a process started with
// Administrators deny-only (a standard user, or an administrator not
// elevated) is no administrator, whatever the other token says.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/feed/FeedMessages.h"

namespace corvane::feed {

// What the service could read of one token.
struct TokenFacts {
    bool Read = false;           // false: the token could not be opened or asked
    bool Administrator = false;  // Administrators is an enabled group (not deny-only)
    bool Elevated = false;       // the token is elevated (a full administrator's token)
    bool Interactive = false;    // the Interactive group: logged on at the computer
};

struct CallerTokens {
    TokenFacts Impersonation;
    TokenFacts Process;
};

// The service's setting: 0 administrators only (the default), 1 also the
// Interactive group may look.
inline constexpr const char* kShowToUsersKey = "ShowToUsers";
enum class ShowToUsers : std::int32_t { AdministratorsOnly = 0, Interactive = 1 };
// The setting's value as the settings file holds it; nullopt for anything
// else than 0 or 1 (the caller then keeps the default and warns).
std::optional<ShowToUsers> ParseShowToUsers(std::string_view value);

struct AccessDecision {
    Access Granted = Access::None;
    std::string Reason;  // why not more, in the status bar's words; empty for Act
};

AccessDecision DecideAccess(ShowToUsers show, const CallerTokens& caller);

// A command is carried out only for a caller that may act.
constexpr bool MayRunCommand(Access granted) noexcept { return granted == Access::Act; }

inline constexpr const char* kNoActReason =
    "管理者として実行していないため、切断などの操作はできません(表示のみ)";
inline constexpr const char* kNoLookReason =
    "共有の状況は管理者だけが見られる設定です";
inline constexpr const char* kUnknownCallerReason = "接続元の権限を確かめられません";

}  // namespace corvane::feed
