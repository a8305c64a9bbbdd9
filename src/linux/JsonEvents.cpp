#include "linux/JsonEvents.h"

#include <ostream>

#include <nlohmann/json.hpp>

namespace corvane::samba {

std::string JsonLine(const WatchEvent& event, const std::string& server) {
    nlohmann::ordered_json line;
    line["time"] = FormatIsoTime(event.Time);
    line["kind"] = KindName(event.Kind);
    line["word"] = LogWord(event.Kind);
    line["server"] = server;
    line["computer"] = event.ComputerName;
    line["address"] = event.IpAddress;
    line["user"] = event.UserName;
    line["path"] = event.PathName;
    if (!event.Detail.empty()) line["detail"] = event.Detail;
    if (event.Kind == EventKind::EventsLost) line["count"] = event.Count;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void JsonLinesSink::Publish(const std::vector<WatchEvent>& events) noexcept {
    try {
        for (const WatchEvent& event : events) out_ << JsonLine(event, server_) << '\n';
        if (!events.empty()) out_.flush();
    } catch (...) {
        // A reader that went away must not stop the watch; the event log still has every event.
    }
}

}  // namespace corvane::samba
