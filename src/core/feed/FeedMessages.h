#pragma once
// What the service and the trays say to each other over the local pipe. The
// service speaks first: who the caller may be (Hello), then its whole state
// (a snapshot: the watch's settings, its health and the log's, every session
// and open file), then every change as its passes find it, every event of the
// watch, and a heartbeat when nothing happens. A tray sends commands and gets
// one result for each.
//
// On the wire each message is a frame: its payload's length (4 bytes, little
// endian), then the payload: the protocol version (2 bytes), the message type
// (1 byte) and the fields. Every size has a bound; a frame over its bound or a
// payload that does not decode whole ends that connection.
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/events/EventLog.h"
#include "core/events/WatchEvent.h"

namespace corvane::feed {

inline constexpr std::uint16_t kProtocolVersion = 1;
// A payload's bytes at most; a longer frame is refused before it is read.
inline constexpr std::size_t kMaxPayloadBytes = 64 * 1024;
// One text field's bytes at most (a path, a name, a message, a reason).
inline constexpr std::size_t kMaxTextBytes = 8 * 1024;
// The ids of one open file, the settings of one message.
inline constexpr std::size_t kMaxFileIds = 1024;
inline constexpr std::size_t kMaxSettings = 64;

// What a caller may do, decided by the service from the caller's tokens.
enum class Access : std::uint8_t {
    None = 0,  // neither look nor act: told why, then the connection ends
    Look = 1,  // the lists and every event
    Act = 2,   // also the commands
};

// The first message of the service on every connection.
struct Hello {
    std::uint16_t Version = kProtocolVersion;
    Access Granted = Access::None;
    bool CanCloseFiles = false;  // the server can check and close single open files
    std::string Reason;          // why the caller may not act (or not look); empty for Act
    bool operator==(const Hello&) const = default;
};

// The snapshot follows Hello: SnapshotBegin, the settings, health, every row,
// SnapshotEnd. A tray shows it only once it is whole.
struct SnapshotBegin {
    bool operator==(const SnapshotBegin&) const = default;
};
struct SnapshotEnd {
    bool operator==(const SnapshotEnd&) const = default;
};

// A session as the service tracks it, added or changed. Rows are named by an
// id that the service gives each one for as long as it runs.
struct SessionRow {
    std::uint64_t Id = 0;
    std::string ComputerName;
    std::string IpAddress;
    std::string UserName;
    std::uint32_t OpenCount = 0;
    std::uint32_t ConnectedSeconds = 0;
    std::uint32_t IdleSeconds = 0;
    bool operator==(const SessionRow&) const = default;
};

// An open file (one path and user, every open of it), added or changed.
struct FileRow {
    std::uint64_t Id = 0;
    std::string PathName;
    std::string UserName;
    std::uint32_t Permissions = 0;
    std::uint32_t LockCount = 0;
    std::vector<std::uint32_t> FileIds;
    bool operator==(const FileRow&) const = default;
};

struct RowGone {
    bool File = false;  // a file row; otherwise a session row
    std::uint64_t Id = 0;
    bool operator==(const RowGone&) const = default;
};

// How the service's watch fares: the statuses of its last pass's two
// listings (0: success), whether it lists open files at all, and the log.
struct Health {
    std::uint32_t SessionStatus = 0;
    std::uint32_t FileStatus = 0;
    bool FilesWatched = true;
    EventLogState Log;
    bool operator==(const Health&) const = default;
};

// The watch's settings, as keys and values of the settings file.
struct WatchSettings {
    std::vector<std::pair<std::string, std::string>> Values;
    bool operator==(const WatchSettings&) const = default;
};

struct EventMessage {
    WatchEvent Event;
};

struct Heartbeat {
    bool operator==(const Heartbeat&) const = default;
};

enum class CommandKind : std::uint8_t {
    DisconnectSession = 1,  // ComputerName, UserName
    CloseFile = 2,          // PathName, UserName, FileIds (those the tray's list shows)
    SendMessage = 3,        // ComputerName, Text
    ChangeSettings = 4,     // Settings
};

struct Command {
    std::uint32_t Id = 0;  // the tray's number, echoed in the result
    CommandKind Kind = CommandKind::DisconnectSession;
    std::string ComputerName;
    std::string UserName;
    std::string PathName;
    std::string Text;
    std::vector<std::uint32_t> FileIds;
    WatchSettings Settings;
    bool operator==(const Command&) const = default;
};

enum class CommandOutcome : std::uint8_t {
    Done = 0,
    Refused = 1,        // the caller may not act: Text says why
    Failed = 2,         // the server refused: Status, Text
    AlreadyClosed = 3,  // CloseFile: nothing of it was open any more
    Changed = 4,        // CloseFile: an id names another open now and was left alone
};

struct CommandResult {
    std::uint32_t Id = 0;
    CommandOutcome Outcome = CommandOutcome::Done;
    std::uint32_t Status = 0;
    std::uint32_t Count = 0;  // CloseFile: the opens this command closed
    std::string Text;
    bool operator==(const CommandResult&) const = default;
};

using Message = std::variant<Hello, SnapshotBegin, SnapshotEnd, SessionRow, FileRow, RowGone, Health, WatchSettings,
                             EventMessage, Heartbeat, Command, CommandResult>;

}  // namespace corvane::feed
