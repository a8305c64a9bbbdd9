#pragma once
// Recording fakes of the watch ports for the scan tests.
#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/settings/Settings.h"
#include "support/FakeClock.h"
#include "core/watch/HostAddress.h"
#include "core/watch/WatchPorts.h"
#include "core/watch/WatchThread.h"

namespace corvane::test {

struct FakeServer : IServerApi {
    std::vector<SessionRecord> sessions;
    std::vector<FileRecord> files;
    std::uint32_t sessionStatus = 0;
    std::uint32_t fileStatus = 0;
    int sessionEnums = 0;
    int fileEnums = 0;
    std::vector<std::pair<std::string, std::string>> deleted;  // (client name argument, user)

    std::uint32_t EnumSessions(std::vector<SessionRecord>& out) override {
        ++sessionEnums;
        if (sessionStatus == 0) out = sessions;
        return sessionStatus;
    }
    std::uint32_t EnumFiles(std::vector<FileRecord>& out) override {
        ++fileEnums;
        if (fileStatus == 0) out = files;
        return fileStatus;
    }
    bool keepSessions = false;  // EndSession leaves them connected, as a server may
    void SessionDel(const std::string& client, const std::string& user) override { deleted.emplace_back(client, user); }
    bool EndSession(const TSessionInfo& session) override {
        IServerApi::EndSession(session);
        return !keepSessions;
    }
    void MessageBufferSend(const std::string&, const std::string&) override {}
    // `files` is also what the ids name now; FileClose takes a file out of it.
    std::map<std::uint32_t, std::uint32_t> infoStatus, closeStatus;  // by id: a refusal instead
    std::vector<std::uint32_t> closed;                                // the ids FileClose was given
    bool CanCloseFiles() const override { return true; }
    std::uint32_t FileGetInfo(std::uint32_t id, FileRecord& out) override {
        if (infoStatus.count(id)) return infoStatus[id];
        const auto found = std::find_if(files.begin(), files.end(), [id](const FileRecord& f) { return f.FileId == id; });
        if (found == files.end()) return 2314;
        out = *found;
        return 0;
    }
    std::uint32_t FileClose(std::uint32_t id) override {
        closed.push_back(id);
        if (closeStatus.count(id)) return closeStatus[id];
        const auto was = files.size();
        std::erase_if(files, [id](const FileRecord& f) { return f.FileId == id; });
        return files.size() < was ? 0 : 2314;
    }
};

struct FakeResolver : IResolver {
    std::map<std::string, std::vector<std::string>> hosts;  // name -> its addresses, as text
    std::vector<std::string> interfaces = {"192.168.0.1"};   // the adapters' addresses
    std::optional<std::string> localName = "SERVER";
    std::atomic<int> lookups{0};  // the watch looks names up side by side
    std::vector<IpAddress> Resolve(const std::string& name) override {
        ++lookups;
        const auto it = hosts.find(name);
        return it == hosts.end() ? std::vector<IpAddress>{} : Parsed(it->second);
    }
    std::optional<std::string> LocalHostName() override { return localName; }
    std::vector<IpAddress> InterfaceAddresses() override { return Parsed(interfaces); }
    static std::vector<IpAddress> Parsed(const std::vector<std::string>& texts) {
        std::vector<IpAddress> addresses;
        for (const std::string& text : texts) addresses.push_back(ParseAddress(text).value());
        return addresses;
    }
};

struct FakeViews : IWatchViews {
    std::vector<std::string> calls;  // "add PC01/Taro", "update ...", "remove ...", "clear sessions", ...
    void AddSessionRow(const TSessionInfo& i) override { calls.push_back("add " + i.ComputerName + "/" + i.UserName); }
    void UpdateSessionRow(const TSessionInfo& i) override {
        calls.push_back("update " + i.ComputerName + "/" + i.UserName);
    }
    void RemoveSessionRow(const TSessionInfo* i) override {
        calls.push_back(i ? "remove " + i->ComputerName + "/" + i->UserName : "clear sessions");
    }
    void AddResourceRow(const TFileInfo& i) override { calls.push_back("add " + i.UserName + ":" + i.PathName); }
    void RemoveResourceRow(const TFileInfo* i) override {
        calls.push_back(i ? "remove " + i->UserName + ":" + i->PathName : "clear resources");
    }
};

// The events published, each as its log text, and how often Publish ran.
struct FakeLog : IEventSink {
    std::vector<std::string> lines;
    std::vector<WatchEvent> events;
    int publishes = 0;
    void Publish(const std::vector<WatchEvent>& published) noexcept override {
        ++publishes;
        for (const WatchEvent& e : published) {
            lines.push_back(LogText(e));
            events.push_back(e);
        }
    }
};

struct Balloon {
    std::string title, text;
    int timeout;
    TBalloonIconType icon;
};

struct FakeNotifier : INotifier {
    std::vector<std::string> tips;
    std::vector<Balloon> balloons;
    std::vector<std::string> sounds;
    std::vector<int> animations;
    void SetTipHelp(const std::string& tip) override { tips.push_back(tip); }
    void ShowBalloonHelp(const std::string& title, const std::string& text, int timeout,
                         TBalloonIconType icon) override {
        balloons.push_back({title, text, timeout, icon});
    }
    void PlayWave(const std::string& file) override { sounds.push_back(file); }
    void StartIconAnimation(int interval) override { animations.push_back(interval); }
};

struct FakeOwner : IWatchOwner {
    Settings settings;
    SharedFlag refreshRequested;
    bool IgnoreAutoRefresh() const override { return settings.IgnoreAutoRefresh; }
    bool IgnoreSharedResource() const override { return settings.IgnoreSharedResource; }
    bool RefreshRequested() const override { return refreshRequested; }
    void ClearRefreshRequested() override { refreshRequested = false; }
    const Settings& CurrentSettings() const override { return settings; }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> enumerationResults;  // (sessions, files)
    void EnumerationResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) override {
        enumerationResults.emplace_back(sessionStatus, fileStatus);
    }
};

// Runs the call at once on the calling thread.
struct DirectRunner : IMainThreadRunner {
    std::atomic<int> calls{0};
    void RunOnMainThread(const std::function<void()>& call) override {
        ++calls;
        call();
    }
};

// Pauses between passes end at once; they are counted.
struct CountingWait : IPassWait {
    std::atomic<int> waits{0};
    std::atomic<int> wakes{0};
    void Wait(std::chrono::milliseconds) override { ++waits; }
    void Wake() override { ++wakes; }
};

// Every fake wired to one watch thread that is driven pass by pass.
struct WatchFixture {
    FakeOwner owner;
    FakeServer server;
    FakeResolver resolver;
    FakeViews views;
    FakeLog log;
    FakeClock clock;
    FakeNotifier notifier;
    DirectRunner runner;
    CountingWait wait;
    text::SimpleCollation collation;
    TWatchThread thread{WatchContext{owner, server, resolver, views, log, clock, notifier, runner, wait, collation}};
};

}  // namespace corvane::test
