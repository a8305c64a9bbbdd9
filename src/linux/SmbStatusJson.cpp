#include "linux/SmbStatusJson.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>

#include <nlohmann/json.hpp>

#include "core/watch/HostAddress.h"

namespace corvane::samba {
namespace {

using Json = nlohmann::ordered_json;

// Windows' file permission bits, as the open-file records carry them.
constexpr std::uint32_t kPermRead = 0x1;
constexpr std::uint32_t kPermWrite = 0x2;
// Access mask bits of an open.
constexpr std::uint32_t kFileReadData = 0x1;
constexpr std::uint32_t kFileWriteData = 0x2;
constexpr std::uint32_t kFileAppendData = 0x4;

// The listing's shape is wrong where a member must be an object.
struct ShapeError {
    std::string what;
};

const Json* Member(const Json& object, const char* name) {
    const auto it = object.find(name);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

const Json* ObjectMember(const Json& object, const char* name, bool required) {
    const Json* member = Member(object, name);
    if (!member) {
        if (required) throw ShapeError{std::string("no \"") + name + "\" section"};
        return nullptr;
    }
    if (!member->is_object()) throw ShapeError{std::string("\"") + name + "\" is not an object"};
    return member;
}

std::string Text(const Json& object, const char* name) {
    const Json* member = Member(object, name);
    if (!member) return {};
    if (member->is_string()) return member->get<std::string>();
    if (member->is_number_integer()) return std::to_string(member->get<std::int64_t>());
    return {};
}

template <typename T>
std::optional<T> Number(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> IntegerMember(const Json& object, const char* name) {
    const Json* member = Member(object, name);
    if (!member) return std::nullopt;
    if (member->is_number_integer()) return member->get<std::int64_t>();
    if (member->is_string()) return Number<std::int64_t>(member->get_ref<const std::string&>());
    return std::nullopt;
}

long ServerPid(const Json& object) {
    const Json* id = Member(object, "server_id");
    if (!id || !id->is_object()) return -1;
    return static_cast<long>(IntegerMember(*id, "pid").value_or(-1));
}

std::uint32_t Clamp32(std::int64_t value) {
    if (value < 0) return 0;
    return static_cast<std::uint32_t>(std::min<std::int64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

std::uint32_t Permissions(const Json& open) {
    const Json* mask = Member(open, "access_mask");
    if (!mask || !mask->is_object()) return 0;
    const auto hex = Text(*mask, "hex");
    std::uint32_t bits = 0;
    if (hex.size() > 2 && (hex.starts_with("0x") || hex.starts_with("0X"))) {
        const auto value = std::from_chars(hex.data() + 2, hex.data() + hex.size(), bits, 16);
        if (value.ec != std::errc()) bits = 0;
    }
    std::uint32_t permissions = 0;
    if (bits & kFileReadData) permissions |= kPermRead;
    if (bits & (kFileWriteData | kFileAppendData)) permissions |= kPermWrite;
    return permissions;
}

std::string JoinPath(const std::string& servicePath, const std::string& fileName) {
    if (fileName.empty() || fileName == ".") return servicePath;
    if (servicePath.empty()) return fileName;
    if (servicePath.back() == '/') return servicePath + fileName;
    return servicePath + "/" + fileName;
}

// One session entry of the listing.
struct RawSession {
    std::string id;
    long pid = -1;
    std::optional<std::int64_t> uid;
    std::string user, machine, address;
    std::optional<std::int64_t> created;  // newer Samba versions: the session's creation time
};

SmbStatusSnapshot Convert(const Json& root, std::int64_t nowFallback, const text::ICollation& collation) {
    if (!root.is_object()) throw ShapeError{"the listing is not a JSON object"};
    std::int64_t now = nowFallback;
    if (const Json* stamp = Member(root, "timestamp"); stamp && stamp->is_string()) {
        if (const auto parsed = ParseIsoTime(stamp->get_ref<const std::string&>())) now = *parsed;
    }

    std::vector<RawSession> raw;
    for (const auto& [key, entry] : ObjectMember(root, "sessions", true)->items()) {
        if (!entry.is_object()) throw ShapeError{"a session is not an object"};
        RawSession s;
        s.id = Text(entry, "session_id");
        if (s.id.empty()) s.id = key;
        s.pid = ServerPid(entry);
        s.uid = IntegerMember(entry, "uid");
        s.user = SanitizeName(Text(entry, "username"));
        // A connection still authenticating has no user yet (Samba lists it
        // with uid -1 and the name "(auth in progress)").
        if (s.uid == -1 || s.user == "(auth in progress)") s.user.clear();
        const std::string host = Text(entry, "hostname");
        s.address = AddressFromHostField(host);
        s.machine = SanitizeName(Text(entry, "remote_machine"));
        if (s.machine.empty()) s.machine = s.address.empty() ? SanitizeName(host) : s.address;
        if (const Json* created = Member(entry, "creation_time"); created && created->is_string())
            s.created = ParseIsoTime(created->get_ref<const std::string&>());
        raw.push_back(std::move(s));
    }

    // The earliest tree connect of each session, by session id, else by process.
    std::map<std::string, std::int64_t> firstConnectBySession;
    std::map<long, std::int64_t> firstConnectByPid;
    if (const Json* tcons = ObjectMember(root, "tcons", false)) {
        for (const auto& [key, entry] : tcons->items()) {
            if (!entry.is_object()) throw ShapeError{"a tree connect is not an object"};
            const Json* at = Member(entry, "connected_at");
            if (!at || !at->is_string()) continue;
            const auto when = ParseIsoTime(at->get_ref<const std::string&>());
            if (!when) continue;
            const auto keep = [&](auto& map, const auto& k) {
                const auto it = map.find(k);
                if (it == map.end() || *when < it->second) map[k] = *when;
            };
            keep(firstConnectBySession, Text(entry, "session_id"));
            keep(firstConnectByPid, ServerPid(entry));
        }
    }

    // Byte-range locks, counted by file path and process.
    std::map<std::pair<std::string, long>, std::uint32_t> locks;
    if (const Json* brl = ObjectMember(root, "byte_range_locks", false)) {
        for (const auto& [key, entry] : brl->items()) {
            if (!entry.is_object()) throw ShapeError{"a byte-range lock entry is not an object"};
            std::string path = JoinPath(Text(entry, "share_path"), Text(entry, "file_name"));
            if (path.empty()) path = key;
            const Json* list = Member(entry, "locks");
            if (!list || !list->is_array()) continue;
            for (const auto& lock : *list) {
                if (lock.is_object()) ++locks[{SanitizeName(path), ServerPid(lock)}];
            }
        }
    }

    // An open belongs to the session in the same process with the same uid,
    // or else to the only session of that process ("force user" shares open
    // files under another uid).
    std::vector<std::uint32_t> opensOf(raw.size(), 0);
    const auto ownerOf = [&](long pid, std::optional<std::int64_t> uid) -> std::optional<std::size_t> {
        std::optional<std::size_t> only;
        int inProcess = 0;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i].pid != pid || pid < 0) continue;
            if (uid && raw[i].uid == uid) return i;
            only = i;
            ++inProcess;
        }
        return inProcess == 1 ? only : std::nullopt;
    };

    SmbStatusSnapshot snapshot;
    if (const Json* files = ObjectMember(root, "open_files", false)) {
        for (const auto& [key, entry] : files->items()) {
            if (!entry.is_object()) throw ShapeError{"an open file is not an object"};
            std::string path = JoinPath(Text(entry, "service_path"), Text(entry, "filename"));
            if (path.empty()) path = key;
            path = SanitizeName(path);
            const Json* opens = ObjectMember(entry, "opens", false);
            if (!opens) continue;
            for (const auto& [openKey, open] : opens->items()) {
                if (!open.is_object()) throw ShapeError{"an open is not an object"};
                const long pid = ServerPid(open);
                const auto uid = IntegerMember(open, "uid");
                FileRecord record;
                record.FileId = static_cast<std::uint32_t>(IntegerMember(open, "share_file_id").value_or(0));
                record.Permissions = Permissions(open);
                // Samba ties byte-range locks to the process, not to one open.
                const auto lockIt = locks.find({path, pid});
                record.LockCount = lockIt == locks.end() ? 0 : lockIt->second;
                record.PathName = path;
                const auto owner = ownerOf(pid, uid);
                if (owner && !raw[*owner].user.empty()) {
                    record.UserName = raw[*owner].user;
                } else {
                    record.UserName = SanitizeName(Text(open, "username"));
                    if (record.UserName.empty() && uid) record.UserName = std::to_string(*uid);
                }
                if (owner) ++opensOf[*owner];
                snapshot.Files.push_back(std::move(record));
            }
        }
    }

    // One session per client computer, address and user, as the Windows
    // server lists them (by computer and user); several Samba sessions of the
    // same client and user are merged. The address keeps a borrowed computer
    // name from merging with the client that owns it.
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const RawSession& s = raw[i];
        // Its earliest tree connect; else (newer Samba) its creation; else the
        // earliest tree connect of its process.
        std::int64_t since = now;
        if (const auto it = firstConnectBySession.find(s.id); it != firstConnectBySession.end()) {
            since = it->second;
        } else if (s.created) {
            since = *s.created;
        } else if (const auto byPid = firstConnectByPid.find(s.pid); s.pid >= 0 && byPid != firstConnectByPid.end()) {
            since = byPid->second;
        }
        const std::uint32_t connected = Clamp32(now - since);

        auto same = std::find_if(snapshot.Sessions.begin(), snapshot.Sessions.end(), [&](const SambaSession& t) {
            return t.Record.ClientAddress == s.address && collation.EqualIgnoreCase(t.Record.ComputerName, s.machine) &&
                   collation.EqualIgnoreCase(t.Record.UserName, s.user);
        });
        if (same == snapshot.Sessions.end()) {
            SambaSession session;
            session.Record.ComputerName = s.machine;
            session.Record.UserName = s.user;
            session.Record.ClientAddress = s.address;
            snapshot.Sessions.push_back(std::move(session));
            same = snapshot.Sessions.end() - 1;
        }
        same->Record.OpenCount += opensOf[i];
        if (s.pid > 0 && std::find(same->Pids.begin(), same->Pids.end(), s.pid) == same->Pids.end())
            same->Pids.push_back(s.pid);
        same->Record.ConnectedSeconds = std::max(same->Record.ConnectedSeconds, connected);
    }
    // A process that serves more than one of these sessions cannot end one
    // of them without the others.
    for (auto& session : snapshot.Sessions) {
        for (const long pid : session.Pids) {
            for (const auto& other : snapshot.Sessions) {
                if (&other == &session || std::find(other.Pids.begin(), other.Pids.end(), pid) == other.Pids.end())
                    continue;
                if (!session.SharedProcess.empty()) session.SharedProcess += "; ";
                session.SharedProcess += "smbd process " + std::to_string(pid) + " also serves " +
                                         (other.Record.UserName.empty() ? std::string("a session still authenticating")
                                                                        : other.Record.UserName) +
                                         " (" + (other.Record.ClientAddress.empty() ? other.Record.ComputerName
                                                                                     : other.Record.ClientAddress) +
                                         ")";
            }
        }
    }
    // The watch stops at the first session without a user name; such sessions
    // (still authenticating) go last so they cannot hide the ones after them.
    std::stable_partition(snapshot.Sessions.begin(), snapshot.Sessions.end(),
                          [](const SambaSession& s) { return !s.Record.UserName.empty(); });
    return snapshot;
}

int Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::optional<std::int64_t> ParseIsoTime(std::string_view t) {
    // YYYY-MM-DDTHH:MM:SS
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') || t[13] != ':' ||
        t[16] != ':')
        return std::nullopt;
    const int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
    const int hour = Digits(t, 11, 2), minute = Digits(t, 14, 2), second = Digits(t, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    std::size_t at = 19;
    if (at < t.size() && t[at] == '.') {
        ++at;
        const std::size_t digits = at;
        while (at < t.size() && t[at] >= '0' && t[at] <= '9') ++at;
        if (at == digits) return std::nullopt;
    }
    std::int64_t offset = 0;
    if (at < t.size()) {
        if (t[at] == 'Z' && at + 1 == t.size()) {
            ++at;
        } else if (t[at] == '+' || t[at] == '-') {
            const int sign = t[at] == '-' ? -1 : 1;
            const int oh = Digits(t, at + 1, 2);
            int om = 0;
            std::size_t end = at + 3;
            if (end < t.size()) {
                if (t[end] == ':') ++end;
                om = Digits(t, end, 2);
                end += 2;
            }
            if (oh < 0 || om < 0 || oh > 23 || om > 59 || end != t.size()) return std::nullopt;
            offset = sign * (oh * 3600 + om * 60);
            at = end;
        } else {
            return std::nullopt;
        }
    }
    const std::int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return days * 86400 + hour * 3600 + minute * 60 + second - offset;
}

std::string AddressFromHostField(std::string_view host) {
    std::string_view rest;
    if (host.starts_with("ipv4:")) {
        rest = host.substr(5);
    } else if (host.starts_with("ipv6:")) {
        rest = host.substr(5);
    } else {
        return {};
    }
    // The port follows the last colon.
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    std::string_view address = rest.substr(0, colon);
    // IPv4, or IPv6 with or without brackets and zone, in its usual text; an
    // IPv4 client on an IPv6 socket ("::ffff:10.0.0.7") is the same client
    // as on an IPv4 one.
    if (const auto parsed = ParseAddress(address)) return AddressText(*parsed);
    // Unreadable, but still what Samba recorded: it keeps the session apart
    // (shown as "(N/A)").
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    const bool ok = std::all_of(address.begin(), address.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' || c == ':' ||
               c == '%';
    });
    if (!ok || address.empty()) return {};
    std::string text(address);
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c; });
    return text;
}

std::string SanitizeName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = '?';
    }
    return out;
}

SmbStatusParse ParseSmbStatusJson(std::string_view text, std::int64_t nowFallback,
                                  const text::ICollation& collation) {
    SmbStatusParse result;
    try {
        const Json root = Json::parse(text.begin(), text.end());
        result.Snapshot = Convert(root, nowFallback, collation);
    } catch (const ShapeError& e) {
        result.Error = "unexpected smbstatus output: " + e.what;
    } catch (const Json::exception& e) {
        result.Error = std::string("smbstatus printed no valid JSON: ") + e.what();
    } catch (const std::exception& e) {
        result.Error = std::string("smbstatus output could not be read: ") + e.what();
    }
    return result;
}

}  // namespace corvane::samba
