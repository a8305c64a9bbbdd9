// Client addresses: their text, and which of them are this computer's own.
#include <gtest/gtest.h>

#include "core/watch/HostAddress.h"
#include "support/FakeWatchPorts.h"

namespace corvane::test {
namespace {

TEST(HostAddressTest, AClientNamedByAnAddressShowsItInItsUsualText) {
    FakeResolver resolver;
    resolver.hosts["PC01"] = {"2001:db8::7", "10.0.0.1"};  // IPv4 first, wherever it comes
    resolver.hosts["PC02"] = {"fe80::2%12", "2001:db8::2"};
    const std::pair<const char*, const char*> names[] = {
        {"192.168.1.50", "192.168.1.50"},
        {"::1", "::1"},
        {"[::1]", "::1"},
        {"fe80::1c2d:3e4f:5a6b:7c8d", "fe80::1c2d:3e4f:5a6b:7c8d"},
        {"2001:0DB8:0000:0000:0000:0000:0000:0025", "2001:db8::25"},
        {"[fe80::1%12]", "fe80::1%12"},
        {"fe80::0:0:1%eth0", "fe80::1%eth0"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
        {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},             // the longer run
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},       // the first of equal runs
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {"::", "::"},
        {"::ffff:10.0.0.7", "10.0.0.7"},
        {"::FFFF:a00:7", "10.0.0.7"},
        {"64:ff9b::192.0.2.33", "64:ff9b::c000:221"},
        {"PC01", "10.0.0.1"},
        {"PC02", "fe80::2%12"},
        {"NOWHERE", "(N/A)"},
        {"PC9.Invalid", "(N/A)"},  // never resolves: not looked up
        {"pc9.invalid.", "(N/A)"},
        {"1.2.3", "(N/A)"},
        {"1.2.3.256", "(N/A)"},
        {"01.2.3.4", "(N/A)"},
        {"1:2:3:4:5:6:7:8:9", "(N/A)"},
        {"1::2::3", "(N/A)"},
        {":::1", "(N/A)"},
        {"1:2:3:4:5:6:7:", "(N/A)"},
        {"12345::1", "(N/A)"},
        {"[::1", "(N/A)"},
        {"fe80::1%", "(N/A)"},
        {"fe80::1%a,b", "(N/A)"},
        {"10.0.0.1%2", "(N/A)"},
    };
    for (const auto& [name, shown] : names) EXPECT_EQ(LookupHostAddress(resolver, name), shown) << name;
    EXPECT_EQ(resolver.lookups.load(), 15);  // only what is not an address is looked up
}

TEST(HostAddressTest, EveryAddressOfThisComputerIsLocal) {
    FakeResolver resolver;
    resolver.interfaces = {"192.168.1.10", "fe80::aa:bb%3", "2001:db8::10", "::ffff:172.16.0.5"};
    resolver.hosts["SERVER"] = {"10.1.1.1"};
    const LocalAddresses local = LocalAddresses::Read(resolver);
    resolver.localName = "NOWHERE";
    const LocalAddresses nameless = LocalAddresses::Read(resolver);
    struct Case {
        const char* address;
        bool lookedUp;
        bool isLocal, namelessIsLocal;
    };
    const Case cases[] = {
        {"127.0.0.1", true, true, true},      {"127.8.9.10", false, true, true},
        {"::1", false, true, true},           {"192.168.1.10", true, true, true},
        {"fe80::aa:bb", false, true, true},   {"fe80::aa:bb%3", false, true, true},
        {"fe80::aa:bb%7", false, false, false},
        {"2001:db8::10", true, true, true},   {"172.16.0.5", false, true, true},
        {"10.1.1.1", true, true, false},      {"192.168.1.50", true, false, false},
        {"2001:db8::25", false, false, false}, {"fe80::1c2d:3e4f:5a6b:7c8d", false, false, false},
        {"128.0.0.1", true, false, false},    {"::2", true, false, false},
        {"(N/A)", true, false, true},         {"(N/A)", false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(local.Contains(c.address, c.lookedUp), c.isLocal) << c.address;
        EXPECT_EQ(nameless.Contains(c.address, c.lookedUp), c.namelessIsLocal) << c.address << " (name unresolved)";
    }
}

}  // namespace
}  // namespace corvane::test
