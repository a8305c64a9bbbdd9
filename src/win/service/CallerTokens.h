#pragma once
// What the service reads of a pipe client's tokens: the one it may
// impersonate and the one of the client's process, each asked whether it
// holds Administrators as an enabled group, is elevated and belongs to the
// Interactive group; and the client's account name for the event log.
#include <windows.h>

#include <string>

#include "core/feed/FeedAccess.h"

namespace corvane::win {

struct PipeCaller {
    feed::CallerTokens Tokens;
    DWORD ProcessId = 0;
    std::string Account;  // "DOMAIN\\user" of the process token; empty when unknown
};

// Called on the server's side of a connected pipe instance. Never throws;
// what cannot be read stays unread (and lets nobody in).
PipeCaller ReadPipeCaller(HANDLE pipe) noexcept;

// The same facts of one token (primary or impersonation).
feed::TokenFacts ReadTokenFacts(HANDLE token) noexcept;

}  // namespace corvane::win
