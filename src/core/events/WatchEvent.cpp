#include "core/events/WatchEvent.h"

#include <cstdio>
#include <cstdlib>

namespace corvane {

std::string FormatTimeStamp(const LocalTime& t) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buffer;
}

std::string FormatIsoTime(const LocalTime& t) {
    const int offset = std::abs(t.utcOffsetMinutes);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return buffer;
}

const char* LogWord(EventKind kind) {
    switch (kind) {
        case EventKind::Connected: return "接続検出";
        case EventKind::Disconnected: return "切断検出";
        case EventKind::Accessed: return "アクセス検出";
        case EventKind::ConnTimeDisconnect: return "接続時間による自動切断";
        case EventKind::IdleTimeDisconnect: return "アイドル時間による自動切断";
        case EventKind::DisconnectFailed: return "切断失敗";
        case EventKind::EventsLost: return "ログ欠落";
        case EventKind::FileClosed: return "ファイル強制クローズ";
        case EventKind::FileCloseFailed: return "ファイル強制クローズ失敗";
    }
    return "";
}

const char* KindName(EventKind kind) {
    switch (kind) {
        case EventKind::Connected: return "connect";
        case EventKind::Disconnected: return "disconnect";
        case EventKind::Accessed: return "access";
        case EventKind::ConnTimeDisconnect: return "conn-time-disconnect";
        case EventKind::IdleTimeDisconnect: return "idle-time-disconnect";
        case EventKind::DisconnectFailed: return "disconnect-failed";
        case EventKind::EventsLost: return "events-lost";
        case EventKind::FileClosed: return "file-close";
        case EventKind::FileCloseFailed: return "file-close-failed";
    }
    return "";
}

std::string OneLineName(const std::string& name) {
    std::string line = name;
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return line;
}

std::string LogText(const WatchEvent& e) {
    std::string text = LogWord(e.Kind);
    text += ',';
    switch (e.Kind) {
        case EventKind::Connected:
        case EventKind::Disconnected:
        case EventKind::ConnTimeDisconnect:
        case EventKind::IdleTimeDisconnect:
            return text + OneLineName(e.ComputerName) + "," + e.IpAddress + "," + OneLineName(e.UserName);
        case EventKind::Accessed:
        case EventKind::FileClosed:
            return text + OneLineName(e.UserName) + "," + OneLineName(e.PathName);
        case EventKind::FileCloseFailed:
            return text + OneLineName(e.UserName) + "," + OneLineName(e.PathName) + "," + OneLineName(e.Detail);
        case EventKind::DisconnectFailed:
            return text + OneLineName(e.ComputerName) + "," + OneLineName(e.UserName) + "," + OneLineName(e.Detail);
        case EventKind::EventsLost:
            return text + std::to_string(e.Count);
    }
    return text;
}

}  // namespace corvane
