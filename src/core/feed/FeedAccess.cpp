#include "core/feed/FeedAccess.h"

#include "core/text/Text.h"

namespace corvane::feed {
namespace {

bool FullAdministrator(const TokenFacts& token) { return token.Read && token.Administrator && token.Elevated; }

bool MayLook(ShowToUsers show, const TokenFacts& token) {
    return FullAdministrator(token) || (show == ShowToUsers::Interactive && token.Read && token.Interactive);
}

}  // namespace

std::optional<ShowToUsers> ParseShowToUsers(std::string_view value) {
    const std::optional<int> parsed = text::ParseInt32(value);
    if (parsed == 0) return ShowToUsers::AdministratorsOnly;
    if (parsed == 1) return ShowToUsers::Interactive;
    return std::nullopt;
}

AccessDecision DecideAccess(ShowToUsers show, const CallerTokens& caller) {
    if (!caller.Impersonation.Read || !caller.Process.Read) return {Access::None, kUnknownCallerReason};
    if (FullAdministrator(caller.Impersonation) && FullAdministrator(caller.Process)) return {Access::Act, {}};
    if (MayLook(show, caller.Impersonation) && MayLook(show, caller.Process)) return {Access::Look, kNoActReason};
    return {Access::None, kNoLookReason};
}

}  // namespace corvane::feed
