#include "linux/WatchOptions.h"

#include "core/settings/SettingsStore.h"
#include "core/text/Text.h"
#include "linux/LinuxAdapters.h"

namespace corvane::samba {
namespace {

std::optional<std::int32_t> Int32(const std::string& text) {
    const auto value = text::ParseInt32(text);
    if (!value) return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

}  // namespace

ParsedOptions ParseCommandLine(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    WatchOptions& o = parsed.Options;
    for (std::size_t i = 0; i < args.size() && parsed.Error.empty(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            parsed.Error = name + " needs a value";
            return std::nullopt;
        };
        const auto number = [&](std::optional<std::int32_t>& target) {
            const auto text = value();
            if (!text) return;
            target = Int32(*text);
            if (!target) parsed.Error = name + ": not a 32-bit integer: " + *text;
        };
        const auto seconds = [&](std::chrono::milliseconds& target) {
            const auto text = value();
            if (!text) return;
            try {
                std::size_t used = 0;
                const double s = std::stod(*text, &used);
                if (used != text->size() || !(s > 0) || s > 86400) throw std::invalid_argument(*text);
                target = std::chrono::milliseconds(static_cast<long long>(s * 1000 + 0.5));
                if (target.count() == 0) target = std::chrono::milliseconds(1);
            } catch (const std::exception&) {
                parsed.Error = name + ": not a number of seconds above 0: " + *text;
            }
        };
        const auto text = [&](std::string& target) {
            if (const auto v = value()) target = *v;
        };

        if (name == "--help" || name == "-h") {
            o.Help = true;
        } else if (name == "--once") {
            o.Once = true;
        } else if (name == "--config") {
            text(o.ConfigPath);
        } else if (name == "--log") {
            text(o.LogPath);
            if (parsed.Error.empty() && o.LogPath.empty()) parsed.Error = "--log needs a file name";
        } else if (name == "--log-encoding") {
            std::string encoding;
            text(encoding);
            if (encoding == "utf-8" || encoding == "UTF-8" || encoding == "utf8") {
                o.Encoding = LogEncoding::Utf8;
            } else if (encoding == "cp932" || encoding == "CP932" || encoding == "shift_jis") {
                o.Encoding = LogEncoding::Cp932;
            } else if (parsed.Error.empty()) {
                parsed.Error = "--log-encoding: utf-8 or cp932, not " + encoding;
            }
        } else if (name == "--max-log-size") {
            number(o.MaxLogSize);
        } else if (name == "--disconnect-conn-time") {
            number(o.DisconnectConnTime);
        } else if (name == "--disconnect-idle-time") {
            number(o.DisconnectIdleTime);
        } else if (name == "--ignore-shared-resource") {
            o.IgnoreSharedResource = true;
        } else if (name == "--smbstatus") {
            text(o.Smbstatus);
        } else if (name == "--smbcontrol") {
            text(o.Smbcontrol);
        } else if (name == "--notify-send") {
            o.NotifySend = "notify-send";
            if (inlineValue) o.NotifySend = *inlineValue;
        } else if (name == "--lock-directory") {
            text(o.LockDirectory);
            if (parsed.Error.empty() && o.LockDirectory.empty()) parsed.Error = "--lock-directory needs a folder";
        } else if (name == "--stdout-format") {
            std::string format;
            text(format);
            if (format == "json") {
                o.JsonEvents = true;
            } else if (format == "text") {
                o.JsonEvents = false;
            } else if (parsed.Error.empty()) {
                parsed.Error = "--stdout-format: text or json, not " + format;
            }
        } else if (name == "--poll") {
            o.Poll = true;
        } else if (name == "--interval") {
            seconds(o.Interval);
        } else if (name == "--timeout") {
            seconds(o.Timeout);
        } else {
            parsed.Error = "unknown option: " + args[i];
        }
    }
    return parsed;
}

std::string ResolveSettings(const WatchOptions& options, IProfileStore& store, Settings& settings) {
    NoSettingsWindow window;
    LoadSettings(store, window, settings);
    if (options.MaxLogSize) settings.MaxLogSize = *options.MaxLogSize;
    if (options.DisconnectConnTime) settings.DisconnectConnTime = *options.DisconnectConnTime;
    if (options.DisconnectIdleTime) settings.DisconnectIdleTime = *options.DisconnectIdleTime;
    if (options.IgnoreSharedResource) settings.IgnoreSharedResource = *options.IgnoreSharedResource;
    if (settings.DisconnectIdleTime > 0) {
        return "an idle-time limit of " + std::to_string(settings.DisconnectIdleTime) +
               " s was asked for (" + (options.DisconnectIdleTime ? "--disconnect-idle-time" : "DisconnectIdleTime in " + store.Path()) +
               "), but Samba reports no idle time for its sessions, so it cannot be kept. "
               "Set it to 0, or use --disconnect-conn-time instead.";
    }
    return {};
}

std::string HelpText() {
    return R"(Usage: corvane-watch [OPTION]...
Watches the Samba file server of this computer: logs every new connection,
every vanished connection and every new access to a shared file, and ends
connections that have been connected too long. Run it as root (smbstatus and
smbcontrol need it to see and end every connection).

  --config FILE               read the options from a Corvane.ini settings file
                              (section [Environment]: DisconnectConnTime,
                              MaxLogSize, IgnoreSharedResource,
                              IgnoreLocalConnection, PopupNotifyWindow,
                              NotifyResourceAccess, IsSecond); flags win over it
  --log FILE                  event log (default: CorvaneLog.txt in the working
                              directory); the backup is FILE.bak, and FILE.lock
                              keeps a second watcher of the same log from
                              starting
  --max-log-size BYTES        size limit of the event log (default 1048576)
  --log-encoding utf-8|cp932  bytes of the event log (default utf-8)
  --disconnect-conn-time SEC  end a client's connections once it has been
                              connected longer than SEC seconds (0: never)
  --ignore-shared-resource    do not watch open files
  --smbstatus PATH            the smbstatus program (default: smbstatus in PATH)
  --smbcontrol PATH           the smbcontrol program (default: smbcontrol in PATH)
  --lock-directory DIR        Samba's lock directory, where its change signals
                              are read (default: as testparm gives it, else
                              /run/samba)
  --poll                      do not read Samba's change signals: ask smbstatus
                              every --interval
  --stdout-format text|json   standard output of the watch: announcements, one
                              line each (text, the default), or every event as
                              one JSON object per line (json: time, kind,
                              word, server, computer, address, user, path)
  --notify-send[=PATH]        also announce through notify-send on the desktop
  --interval SEC              pause between two listings when Samba's change
                              signals are not read (default 1)
  --timeout SEC               time limit for each smbstatus/smbcontrol run
                              (default 10)
  --once                      print the sessions and open files Samba lists,
                              and exit (status 1 when smbstatus failed); writes
                              no file and ends no connection
  --help                      show this text

Cost: smbstatus is asked for the full listing only when Samba's state may have
changed (a file was opened or closed, a client process came or went), shortly
after such a change, before a session reaches the connected-time limit, and at
least every 15 s. Where those signals cannot be read, it is asked every
--interval, and that is said once on standard error.

Samba reports no idle time for its sessions: an idle-time limit
(DisconnectIdleTime, --disconnect-idle-time) cannot be kept and is refused.

Samba ends a connection by shutting down the smbd process that serves it, and
one process may serve several users of one client computer. Such a session is
never ended: it stays connected and "切断失敗" with the reason is logged once;
--once lists it on an "unendable" line.

Announcements of new connections (and, with NotifyResourceAccess=1, of new
accesses) go to standard output, one line each. Errors go to standard error.
A connection from this computer itself is not watched unless
IgnoreLocalConnection=0 is in the settings file. The event log and its backup
are created readable by their owner and group only (0640).
)";
}

}  // namespace corvane::samba
