#pragma once
// The watch's events as JSON lines for collectors (journald forwarding,
// Vector, Fluent Bit, Promtail): one object per event, one event per line.
#include <iosfwd>
#include <string>
#include <vector>

#include "core/events/WatchEvent.h"

namespace corvane::samba {

// {"time":"2025-06-30T12:00:00+09:00","kind":"connect","word":"接続検出",
//  "server":"nas1","computer":"PC01","address":"192.168.1.5","user":"taro","path":""}
// plus "detail" (why an end failed) and "count" (events lost) where they
// apply. Bytes that are not UTF-8 are replaced, control characters escaped.
std::string JsonLine(const WatchEvent& event, const std::string& server);

// Writes each event's line to `out` and flushes after each pass.
class JsonLinesSink final : public IEventSink {
public:
    JsonLinesSink(std::ostream& out, std::string server) : out_(out), server_(std::move(server)) {}
    void Publish(const std::vector<WatchEvent>& events) noexcept override;

private:
    std::ostream& out_;
    std::string server_;
};


}  // namespace corvane::samba
