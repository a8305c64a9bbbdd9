#pragma once
// One event of the watch, as the scans produce it, and the outputs that take
// it. The event log's line is one rendering of the record; other outputs (the
// Windows event log, JSON lines) render the same record their own way.
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    // Local time minus UTC, in minutes (Japan: +540).
    int utcOffsetMinutes = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual LocalTime Now() = 0;
};

// "yyyy/mm/dd hh:nn:ss"
std::string FormatTimeStamp(const LocalTime& time);
// "yyyy-mm-ddThh:nn:ss+hh:mm"
std::string FormatIsoTime(const LocalTime& time);

enum class EventKind {
    Connected,           // a new session: computer, address, user
    Disconnected,        // a session went away: computer, address, user
    Accessed,            // a new open file: user, path
    ConnTimeDisconnect,  // a session ended for its connected time
    IdleTimeDisconnect,  // a session ended for its idle time
    DisconnectFailed,    // a session could not be ended: computer, user, detail (the reason)
    EventsLost,          // the event log dropped `Count` events while it could not be written
    FileClosed,          // an open file was closed from the resource list: user, path
    FileCloseFailed,     // some or all opens of a file could not be closed: user, path, detail
};

struct WatchEvent {
    EventKind Kind = EventKind::Connected;
    LocalTime Time;
    std::string ComputerName;
    std::string IpAddress;
    std::string UserName;
    std::string PathName;
    std::string Detail;
    std::uint64_t Count = 0;
};

// The word of the event log ("接続検出", ...).
const char* LogWord(EventKind kind);
// A stable English name for machine readers ("connect", "disconnect", ...).
const char* KindName(EventKind kind);

// A name from the server as it goes into a log line, a notification or the
// tip: every control character (C0) is written as one blank, so that a name
// can never split one event over several lines.
std::string OneLineName(const std::string& name);

// The log line of an event after its time stamp: the word and the fields, in
// UTF-8, e.g. "接続検出,PC01,192.168.0.5,taro".
std::string LogText(const WatchEvent& event);

// An output of the events. Publish takes the events of one pass in the order
// they happened; it is also called with none, so that an output holding
// events it could not deliver yet can try again. It never throws and never
// waits long: an output that fails keeps or counts what it could not deliver
// and tells of the problem itself.
class IEventSink {
public:
    virtual ~IEventSink() = default;
    virtual void Publish(const std::vector<WatchEvent>& events) noexcept = 0;
};

}  // namespace corvane
