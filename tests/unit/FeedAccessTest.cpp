// Who may look at the service's feed and who may act through it.
#include <gtest/gtest.h>

#include <vector>

#include "core/feed/FeedAccess.h"

namespace corvane::test {
namespace {

using feed::Access;
using feed::ShowToUsers;
using feed::TokenFacts;

// Read, Administrator, Elevated, Interactive.
constexpr TokenFacts kElevatedAdmin{true, true, true, true};
constexpr TokenFacts kServiceAdmin{true, true, true, false};     // an administrator not logged on here
constexpr TokenFacts kFilteredAdmin{true, false, false, true};   // Administrators deny-only (UAC, not elevated)
constexpr TokenFacts kAdminNotElevated{true, true, false, true}; // member, but the token is not elevated
constexpr TokenFacts kStandardUser{true, false, false, true};
constexpr TokenFacts kRemoteUser{true, false, false, false};     // not in the Interactive group
constexpr TokenFacts kUnread{};

struct Row {
    const char* name;
    ShowToUsers show;
    TokenFacts impersonation, process;
    Access granted;
    const char* reason;
};

TEST(FeedAccessTest, WhoMayLookAndWhoMayAct) {
    const std::vector<Row> rows = {
        {"elevated administrator acts", ShowToUsers::AdministratorsOnly, kElevatedAdmin, kElevatedAdmin, Access::Act, ""},
        {"administrator from elsewhere acts", ShowToUsers::AdministratorsOnly, kServiceAdmin, kServiceAdmin, Access::Act, ""},
        {"standard user sees nothing by default", ShowToUsers::AdministratorsOnly, kStandardUser, kStandardUser,
         Access::None, feed::kNoLookReason},
        {"standard user looks when allowed", ShowToUsers::Interactive, kStandardUser, kStandardUser, Access::Look,
         feed::kNoActReason},
        {"filtered administrator is a standard user", ShowToUsers::Interactive, kFilteredAdmin, kFilteredAdmin,
         Access::Look, feed::kNoActReason},
        {"membership without elevation does not act", ShowToUsers::Interactive, kAdminNotElevated, kAdminNotElevated,
         Access::Look, feed::kNoActReason},
        {"restricted process behind an administrator's impersonation", ShowToUsers::Interactive, kElevatedAdmin,
         kStandardUser, Access::Look, feed::kNoActReason},
        {"impersonation of a user behind an administrator's process", ShowToUsers::Interactive, kStandardUser,
         kElevatedAdmin, Access::Look, feed::kNoActReason},
        {"restricted process, administrators only", ShowToUsers::AdministratorsOnly, kElevatedAdmin, kStandardUser,
         Access::None, feed::kNoLookReason},
        {"not interactive may not look", ShowToUsers::Interactive, kRemoteUser, kRemoteUser, Access::None,
         feed::kNoLookReason},
        {"one token interactive is not enough", ShowToUsers::Interactive, kStandardUser, kRemoteUser, Access::None,
         feed::kNoLookReason},
        {"an unread process token lets nobody in", ShowToUsers::Interactive, kElevatedAdmin, kUnread, Access::None,
         feed::kUnknownCallerReason},
        {"an unread impersonation token lets nobody in", ShowToUsers::Interactive, kUnread, kElevatedAdmin,
         Access::None, feed::kUnknownCallerReason},
    };
    for (const Row& row : rows) {
        const feed::AccessDecision decision = feed::DecideAccess(row.show, {row.impersonation, row.process});
        EXPECT_EQ(decision.Granted, row.granted) << row.name;
        EXPECT_EQ(decision.Reason, row.reason) << row.name;
        EXPECT_EQ(feed::MayRunCommand(decision.Granted), row.granted == Access::Act) << row.name;
    }
}

}  // namespace
}  // namespace corvane::test
