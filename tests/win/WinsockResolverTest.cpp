// The Windows lookups: names through GetAddrInfoW, this computer's addresses
// through the IP helper library loaded at run time.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/watch/HostAddress.h"
#include "win/watch/WinsockResolver.h"

namespace corvane::test {
namespace {

TEST(WinsockResolverTest, LooksNamesUpAndListsThisComputersAddresses) {
    win::StartWinsock();
    win::WinsockResolver resolver;
    EXPECT_EQ(LookupHostAddress(resolver, "localhost"), "127.0.0.1");
    EXPECT_EQ(LookupHostAddress(resolver, "no-such-host.invalid"), "(N/A)");
    const std::vector<IpAddress> addresses = resolver.InterfaceAddresses();
    EXPECT_TRUE(std::any_of(addresses.begin(), addresses.end(), [](const IpAddress& a) {
        return AddressText(a) == "127.0.0.1";
    })) << addresses.size() << " addresses";
    EXPECT_FALSE(resolver.InterfaceAddressesChanged());
}

}  // namespace
}  // namespace corvane::test
