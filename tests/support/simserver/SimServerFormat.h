#pragma once
// Files through which the simulated server DLL and the tests talk. Portable
// C++ only: the DLL, the C++ control (also built on Linux) and the Python
// control (tests/e2e/simserver.py) all read and write the same text.
//
// All three files live in the DLL's own folder (in the system folder, where
// it stands in for the system's netapi32.dll: in the folder of the program
// that loaded it), are UTF-8 with LF line ends,
// one record per line, fields separated by one TAB. A text field is escaped
// so that any string round-trips: the bytes '%', TAB, CR, LF, every other
// control byte below 0x20 and 0x7F are written as %XX (upper-case hex);
// everything else, UTF-8 included, is written as is. A null pointer is the
// field "%null" (the encoder never writes '%' followed by a non-hex digit).
//
//   simserver-state.txt     written by the tests (temp file + rename), read
//                           by the DLL on every enumeration and NetFileGetInfo
//                           (which tells what an id of `file` names), rewritten by the
//                           DLL when NetSessionDel removes a session or
//                           NetFileClose closes a file:
//       session-status <u32>          status returned by NetSessionEnum
//       file-status <u32>             status returned by NetFileEnum
//       buffer-on-failure 0|1         also hand out a filled buffer with a
//                                     non-zero enumeration status
//       delete-removes-session 0|1    a successful NetSessionDel drops the
//                                     matching sessions (default 1)
//       session-del-status <u32>      forced status of NetSessionDel (0: 0
//                                     when a session matched, else 2312)
//       message-send-status <u32>     status returned by NetMessageBufferSend
//       session <computer> <user> <opens> <seconds> <idle seconds>
//       file <id> <permissions> <locks> <path> <user>
//   simserver-calls.txt     appended by the DLL, one line per call:
//       NetSessionDel <server> <client name> <user name> <status>
//       NetMessageBufferSend <server> <msgname> <fromname> <text> <buflen> <status>
//       NetFileClose <server> <file id> <status>
//       state-error <description>     the state file could not be read
//   simserver-counters.txt  rewritten by the DLL (temp file + rename):
//       <counter name> <signed decimal>   see the k...Counter names below
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::simserver {

inline constexpr char kStateFileName[] = "simserver-state.txt";
inline constexpr char kCallsFileName[] = "simserver-calls.txt";
inline constexpr char kCountersFileName[] = "simserver-counters.txt";
// One line ("loads" or "unloads") per load and release of the library, each
// appended whole without the folder lock; readers add them to the counters.
inline constexpr char kLifetimeFileName[] = "simserver-lifetime.txt";
inline constexpr std::string_view kNullField = "%null";

// Counter names.
inline constexpr char kLoads[] = "loads";                       // DLL_PROCESS_ATTACH
inline constexpr char kUnloads[] = "unloads";                   // FreeLibrary detach
inline constexpr char kSessionEnums[] = "session-enums";
inline constexpr char kFileEnums[] = "file-enums";
inline constexpr char kSessionEnumOddArgs[] = "session-enum-odd-args";
inline constexpr char kFileEnumOddArgs[] = "file-enum-odd-args";
inline constexpr char kSessionDels[] = "session-dels";
inline constexpr char kMessageSends[] = "message-sends";
inline constexpr char kFileCloses[] = "file-closes";
inline constexpr char kBuffersAllocated[] = "buffers-allocated";
inline constexpr char kBuffersFreed[] = "buffers-freed";
inline constexpr char kBadFrees[] = "bad-frees";                // pointer not handed out (or freed twice)
inline constexpr char kNullFrees[] = "null-frees";
inline constexpr char kStateErrors[] = "state-errors";

// Call-log record kinds.
inline constexpr std::string_view kSessionDelCall = "NetSessionDel";
inline constexpr std::string_view kMessageSendCall = "NetMessageBufferSend";
inline constexpr std::string_view kFileCloseCall = "NetFileClose";
inline constexpr std::string_view kStateErrorRecord = "state-error";

using Text = std::optional<std::string>;  // nullopt: a null pointer

struct Session {
    Text computer = std::string();
    Text user = std::string();
    std::uint32_t opens = 0;
    std::uint32_t seconds = 0;      // connected
    std::uint32_t idleSeconds = 0;
};

struct File {
    std::uint32_t id = 0;
    std::uint32_t permissions = 0;
    std::uint32_t locks = 0;
    Text path = std::string();
    Text user = std::string();
};

struct State {
    std::uint32_t sessionStatus = 0;
    std::uint32_t fileStatus = 0;
    bool bufferOnFailure = false;
    bool deleteRemovesSession = true;
    std::uint32_t sessionDelStatus = 0;
    std::uint32_t messageSendStatus = 0;
    std::vector<Session> sessions;
    std::vector<File> files;
};

using Counters = std::map<std::string, std::int64_t, std::less<>>;

inline std::string EscapeField(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '%') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

inline std::string EncodeField(const Text& text) {
    return text ? EscapeField(*text) : std::string(kNullField);
}

namespace detail {
inline int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace detail

// nullopt when the field is not well formed.
inline std::optional<Text> DecodeField(std::string_view field) {
    if (field == kNullField) return Text();
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out += field[i];
            continue;
        }
        if (i + 2 >= field.size()) return std::nullopt;
        const int high = detail::HexValue(field[i + 1]);
        const int low = detail::HexValue(field[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return Text(std::move(out));
}

inline std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

// Lines without their LF (and a CR before it); no empty last line.
inline std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

template <typename Int>
bool ParseInt(std::string_view text, Int& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

inline std::string SerializeState(const State& state) {
    std::string out;
    out += "session-status\t" + std::to_string(state.sessionStatus) + "\n";
    out += "file-status\t" + std::to_string(state.fileStatus) + "\n";
    out += std::string("buffer-on-failure\t") + (state.bufferOnFailure ? "1" : "0") + "\n";
    out += std::string("delete-removes-session\t") + (state.deleteRemovesSession ? "1" : "0") + "\n";
    out += "session-del-status\t" + std::to_string(state.sessionDelStatus) + "\n";
    out += "message-send-status\t" + std::to_string(state.messageSendStatus) + "\n";
    for (const Session& s : state.sessions) {
        out += "session\t" + EncodeField(s.computer) + "\t" + EncodeField(s.user) + "\t" +
               std::to_string(s.opens) + "\t" + std::to_string(s.seconds) + "\t" +
               std::to_string(s.idleSeconds) + "\n";
    }
    for (const File& f : state.files) {
        out += "file\t" + std::to_string(f.id) + "\t" + std::to_string(f.permissions) + "\t" +
               std::to_string(f.locks) + "\t" + EncodeField(f.path) + "\t" + EncodeField(f.user) +
               "\n";
    }
    return out;
}

// Fills `state` (starting from defaults); on a malformed line returns false
// with a description in `error`.
inline bool ParseState(std::string_view text, State& state, std::string& error) {
    state = State();
    std::size_t lineNumber = 0;
    for (std::string_view line : SplitLines(text)) {
        ++lineNumber;
        if (line.empty()) continue;
        const std::vector<std::string_view> f = SplitFields(line);
        const std::string_view kind = f[0];
        bool ok = true;
        auto u32 = [&](std::size_t i, std::uint32_t& out) {
            if (!ParseInt(f[i], out)) ok = false;
        };
        auto flag = [&](std::size_t i, bool& out) {
            if (f[i] == "1") out = true;
            else if (f[i] == "0") out = false;
            else ok = false;
        };
        auto text = [&](std::size_t i, Text& out) {
            std::optional<Text> decoded = DecodeField(f[i]);
            if (decoded) out = std::move(*decoded);
            else ok = false;
        };
        if (kind == "session" && f.size() == 6) {
            Session s;
            text(1, s.computer);
            text(2, s.user);
            u32(3, s.opens);
            u32(4, s.seconds);
            u32(5, s.idleSeconds);
            state.sessions.push_back(std::move(s));
        } else if (kind == "file" && f.size() == 6) {
            File file;
            u32(1, file.id);
            u32(2, file.permissions);
            u32(3, file.locks);
            text(4, file.path);
            text(5, file.user);
            state.files.push_back(std::move(file));
        } else if (f.size() == 2 && kind == "session-status") {
            u32(1, state.sessionStatus);
        } else if (f.size() == 2 && kind == "file-status") {
            u32(1, state.fileStatus);
        } else if (f.size() == 2 && kind == "buffer-on-failure") {
            flag(1, state.bufferOnFailure);
        } else if (f.size() == 2 && kind == "delete-removes-session") {
            flag(1, state.deleteRemovesSession);
        } else if (f.size() == 2 && kind == "session-del-status") {
            u32(1, state.sessionDelStatus);
        } else if (f.size() == 2 && kind == "message-send-status") {
            u32(1, state.messageSendStatus);
        } else {
            ok = false;
        }
        if (!ok) {
            error = std::string(kStateFileName) + " line " + std::to_string(lineNumber) +
                    ": " + EscapeField(line);
            return false;
        }
    }
    return true;
}

inline std::string SerializeCounters(const Counters& counters) {
    std::string out;
    for (const auto& [name, value] : counters) out += name + "\t" + std::to_string(value) + "\n";
    return out;
}

// Lines that do not parse are skipped: the file is only ever replaced whole.
inline Counters ParseCounters(std::string_view text) {
    Counters counters;
    for (std::string_view line : SplitLines(text)) {
        const std::vector<std::string_view> f = SplitFields(line);
        std::int64_t value = 0;
        if (f.size() == 2 && ParseInt(f[1], value)) counters[std::string(f[0])] = value;
    }
    return counters;
}

}  // namespace corvane::simserver
