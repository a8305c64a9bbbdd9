// The smbstatus listing as the watch sees it: recorded outputs of Samba 4.17
// and listings in the shapes of older and newer versions, hostile names, and
// text that is not the listing at all.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "linux/SmbStatusJson.h"

namespace corvane::samba {
namespace {

std::string Fixture(const std::string& name) {
    std::ifstream in(std::string(CORVANE_SMBSTATUS_FIXTURES) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// "computer|address|user|opens|connected"
std::string Describe(const SambaSession& s) {
    return s.Record.ComputerName + "|" + s.Record.ClientAddress + "|" + s.Record.UserName + "|" +
           std::to_string(s.Record.OpenCount) + "|" + std::to_string(s.Record.ConnectedSeconds) + "|" +
           std::to_string(s.Record.IdleSeconds);
}

// "path|user|id|permissions|locks"
std::string Describe(const FileRecord& f) {
    return f.PathName + "|" + f.UserName + "|" + std::to_string(f.FileId) + "|" + std::to_string(f.Permissions) +
           "|" + std::to_string(f.LockCount);
}

struct ListingCase {
    const char* fixture;
    std::vector<std::string> sessions;
    std::vector<std::string> files;
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.fixture; }

class ListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingTest, SessionsAndOpensAsTheWatchSeesThem) {
    const ListingCase& c = GetParam();
    text::SimpleCollation collation;
    const SmbStatusParse parsed = ParseSmbStatusJson(Fixture(c.fixture), 0, collation);
    ASSERT_TRUE(parsed.Snapshot) << parsed.Error;
    std::vector<std::string> sessions, files;
    for (const auto& s : parsed.Snapshot->Sessions) sessions.push_back(Describe(s));
    for (const auto& f : parsed.Snapshot->Files) files.push_back(Describe(f));
    EXPECT_EQ(sessions, c.sessions);
    EXPECT_EQ(files, c.files);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ListingTest,
    ::testing::Values(
        ListingCase{"samba-4.17-empty.json", {}, {}},
        // Recorded: two smbclient connections of the guest from 127.0.0.1,
        // one holding three files open, the other one; merged into one session.
        ListingCase{"samba-4.17-two-clients.json",
                    {"127.0.0.1|127.0.0.1|nobody|4|4|0"},
                    {"/tmp/smbx/share/見積, 最終 😀.txt|nobody|9|1|0", "/tmp/smbx/share/報告書.txt|nobody|5|1|0",
                     "/tmp/smbx/share/hello.txt|nobody|5|1|0", "/tmp/smbx/share/hello.txt|nobody|13|1|0"}},
        // Older writer: no share modes or open times; the earliest tree
        // connect (IPC$) counts; time zones differ between fields; sessions
        // still without a user (or still authenticating) go last.
        ListingCase{"samba-4.16-style.json",
                    {"PC01|192.168.10.21|taro|1|300|0", "2001:db8::15|2001:db8::15|hanako|1|30|0",
                     "pc03|192.168.10.23||0|0|0", "PC09|192.168.10.29||0|0|0"},
                    {"/srv/share/経理/2024.xlsx|taro|41|1|0", "/srv/share/経理/2024.xlsx|hanako|7|3|0"}},
        // Newer writer: session creation times and channels; two users in one
        // process; the same user again in another process and letter case;
        // byte-range locks; an open whose process serves no session.
        ListingCase{"samba-4.20-style.json",
                    {"10.0.0.7|10.0.0.7|SAMDOM\\jiro|1|3000|0", "10.0.0.7|10.0.0.7|SAMDOM\\saburo|1|60|0"},
                    {"/srv/projects/plan.docx|SAMDOM\\jiro|3|2|2", "/srv/projects/plan.docx|SAMDOM\\saburo|4|1|2",
                     "/srv/projects/old/notes.txt|4242|1|1|0"}},
        // One computer name from two addresses (a borrowed name), and a
        // remote client that calls itself as a local session does: four clients.
        ListingCase{"samba-4.17-borrowed-names.json",
                    {"PC01|192.168.10.21|taro|0|3600|0", "pc01|192.168.10.99|taro|0|60|0",
                     "NAS|127.0.0.1|hanako|0|1800|0", "NAS|192.168.10.77|hanako|0|120|0"},
                    {}},
        // Control characters cannot split or forge a log line; odd numbers,
        // addresses and times do not stop the listing.
        ListingCase{"hostile-names.json",
                    {"EVIL?[31m?PC|999.1.1.1|a,b??2025/01/01 00:00:00,切断検出,X,(N/A),root|2|0|0",
                     "172.16.0.9|172.16.0.9|名前😀\"'\\;$(rm)|0|0|0", "tcp:weird||ghost|0|0|0"},
                    {"/srv/x/line?break?and?del|a,b??2025/01/01 00:00:00,切断検出,X,(N/A),root|0|0|0",
                     "/srv/root|a,b??2025/01/01 00:00:00,切断検出,X,(N/A),root|5|0|0"}}),
    [](const auto& info) {
        std::string name = info.param.fixture;
        name = name.substr(0, name.find(".json"));
        for (char& ch : name) if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(ListingTest, RecordsPidsOfEveryProcessServingTheClientAndUserAndWhichServeOthers) {
    text::SimpleCollation collation;
    const auto parsed = ParseSmbStatusJson(Fixture("samba-4.20-style.json"), 0, collation);
    ASSERT_TRUE(parsed.Snapshot);
    const auto& sessions = parsed.Snapshot->Sessions;
    EXPECT_EQ(sessions[0].Pids, (std::vector<long>{5100, 5200}));
    EXPECT_EQ(sessions[1].Pids, (std::vector<long>{5100}));
    EXPECT_EQ(sessions[0].SharedProcess, "smbd process 5100 also serves SAMDOM\\saburo (10.0.0.7)");
    EXPECT_EQ(sessions[1].SharedProcess, "smbd process 5100 also serves SAMDOM\\jiro (10.0.0.7)");

    const auto separate = ParseSmbStatusJson(Fixture("samba-4.16-style.json"), 0, collation);
    ASSERT_TRUE(separate.Snapshot);
    for (const auto& s : separate.Snapshot->Sessions) EXPECT_EQ(s.SharedProcess, "") << s.Record.ComputerName;
}

TEST(ListingTest, MissingTimeStampUsesTheClock) {
    text::SimpleCollation collation;
    const std::string listing = R"({"sessions": {"1": {"username": "u", "remote_machine": "m"}},
        "tcons": {"2": {"session_id": "1", "connected_at": "2025-01-01T00:00:00Z"}}})";
    const auto parsed = ParseSmbStatusJson(listing, 1735689600 + 75, collation);
    ASSERT_TRUE(parsed.Snapshot) << parsed.Error;
    EXPECT_EQ(parsed.Snapshot->Sessions.at(0).Record.ConnectedSeconds, 75u);
}

TEST(ListingTest, TextThatIsNotTheListingIsRefusedWithAReason) {
    const std::string recorded = Fixture("samba-4.17-two-clients.json");
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"", "no valid JSON"},
        {"Failed to initialise messages: NT_STATUS_ACCESS_DENIED\n", "no valid JSON"},
        {recorded.substr(0, recorded.size() / 2), "no valid JSON"},
        {recorded + "trailing", "no valid JSON"},
        {"{\"sessions\": {\"1\": {\"username\": \"\xff\xfe\"}}}", "no valid JSON"},
        {"[]", "not a JSON object"},
        {"{}", "no \"sessions\" section"},
        {R"({"sessions": []})", "\"sessions\" is not an object"},
        {R"({"sessions": {"1": 5}})", "a session is not an object"},
        {R"({"sessions": {}, "tcons": "none"})", "\"tcons\" is not an object"},
        {R"({"sessions": {}, "open_files": {"/a": {"opens": [1]}}})", "\"opens\" is not an object"},
        {R"({"sessions": {}, "open_files": {"/a": {"opens": {"1/1": "x"}}}})", "an open is not an object"},
    };
    text::SimpleCollation collation;
    for (const auto& c : cases) {
        const auto parsed = ParseSmbStatusJson(c.text, 0, collation);
        EXPECT_FALSE(parsed.Snapshot) << c.text.substr(0, 60);
        EXPECT_NE(parsed.Error.find(c.reason), std::string::npos) << parsed.Error;
    }
}

TEST(ListingTest, DeeplyNestedUnknownMembersDoNotHurt) {
    const std::string deep = "{\"sessions\": {}, \"x\": " + std::string(20000, '[') + std::string(20000, ']') + "}";
    text::SimpleCollation collation;
    const auto parsed = ParseSmbStatusJson(deep, 0, collation);
    ASSERT_TRUE(parsed.Snapshot) << parsed.Error;
    EXPECT_TRUE(parsed.Snapshot->Sessions.empty());
}

TEST(ListingFieldsTest, HostFieldsAndTimes) {
    const std::pair<const char*, const char*> hosts[] = {
        {"ipv4:192.168.1.5:50123", "192.168.1.5"}, {"ipv6:fe80::1:50123", "fe80::1"},
        {"ipv6:[2001:db8::1]:445", "2001:db8::1"}, {"ipv6:::ffff:10.0.0.7:1", "10.0.0.7"},
        {"ipv6:FE80::A:1", "fe80::a"},         {"ipv6:::ffff:1:1", "::ffff:1"},
        {"ipv4:1.2.3.4", ""},  // no port: the last part is the port
        {"ipv4:", ""},          {"unix:/tmp/x:1", ""},  {"192.168.1.5", ""},
        {"ipv4:1.2.3.4;rm:1", ""}};
    for (const auto& [host, address] : hosts) EXPECT_EQ(AddressFromHostField(host), address) << host;

    const std::pair<const char*, std::optional<std::int64_t>> times[] = {
        {"1970-01-01T00:00:00", 0},
        {"2026-12-08T03:55:46.993010+0000", 1796702146},
        {"2026-12-08T12:55:46+09:00", 1796702146},
        {"2026-12-07T22:55:46-05", 1796702146},
        {"2024-02-29 23:59:59Z", 1709251199},
        {"2024-13-01T00:00:00Z", std::nullopt},
        {"2024-01-01T00:00:00+25:00", std::nullopt},
        {"2024-01-01T00:00:00.Z", std::nullopt},
        {"2024-01-01", std::nullopt},
        {"2024-01-01T00:00:00 junk", std::nullopt}};
    for (const auto& [text, seconds] : times) EXPECT_EQ(ParseIsoTime(text), seconds) << text;
}

}  // namespace
}  // namespace corvane::samba
