#pragma once
// The background watcher. Each pass enumerates the server's sessions and open
// files on the watch thread, has the main thread apply what changed (list
// rows, log lines, announcements) and waits for it; then it pauses until the
// next pass is due, a refresh is asked for or the program ends.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/events/WatchEvent.h"
#include "core/text/Collation.h"
#include "core/watch/HostAddress.h"
#include "core/watch/WatchPorts.h"
#include "core/watch/WatchTypes.h"

namespace corvane {

struct WatchContext {
    IWatchOwner& Owner;
    IServerApi& Server;
    IResolver& Resolver;
    IWatchViews& Views;
    IEventSink& Events;  // takes each pass's events on the watch thread
    IClock& Clock;       // the time of each event
    INotifier& Notifier;
    IMainThreadRunner& Runner;
    IPassWait& Wait;
    const text::ICollation& Collation;
};

inline constexpr int kBlinkIntervalMs = 500;
inline constexpr int kBalloonTimeoutMs = 1000;
// How many records of a listing the window's thread takes in one hand-over.
inline constexpr std::size_t kScanSlice = 1000;
// How many name lookups of one pass run at the same time.
inline constexpr std::size_t kParallelLookups = 16;
// How long this computer's addresses are kept before they are read again.
inline constexpr std::chrono::minutes kLocalAddressesInterval{2};
// The pause between the end of one pass and the start of the next.
inline constexpr std::chrono::milliseconds kPassInterval{500};

class TWatchThread {
public:
    explicit TWatchThread(const WatchContext& context);
    ~TWatchThread();
    TWatchThread(const TWatchThread&) = delete;
    TWatchThread& operator=(const TWatchThread&) = delete;

    // Starts the thread body; passes run until Terminate.
    void Start();
    // Sets the stop flag and ends the pause between passes; a pass in
    // progress stops after the scan it is in.
    void Terminate() noexcept;
    // Starts the next pass at once (a refresh request).
    void Wake() noexcept;
    // True once the thread body has returned (or was never started).
    bool Finished() const noexcept;
    // Joins the thread. The caller must keep serving the main-thread calls
    // until Finished() is true, or this may wait for ever.
    void WaitFor();

    // One pass, without the pause after it. Public for tests and for callers
    // that pace the passes themselves.
    void Pass();

    // An event of the main thread's own (a file closed from the resource
    // list): published with the next pass's events, which it wakes, so that
    // the outputs keep one publisher and the events their order. Events
    // still waiting when the thread ends are published then. Any thread.
    void PostEvent(WatchEvent event);
    // Publishes the posted events now, without a pass: for a caller that
    // drives the passes itself, once it has made its last.
    void PublishPosted();
    // The ids the server gave the opens of that user and path in the last
    // resource scan; none when it is not open (any more). Main thread.
    std::vector<std::uint32_t> FileIdsOf(const std::string& userName, const std::string& pathName) const;
    // Whether the last pass ran the resource scan: false while it is left out
    // (IgnoreSharedResource), when the resource rows are not being watched.
    // Any thread.
    bool FilesScanned() const noexcept { return filesScanned_; }

    // The tracked records; read them only between passes or on the main thread.
    const std::vector<TSessionInfo>& Sessions() const noexcept { return sessions_; }
    const std::vector<TFileInfo>& Resources() const noexcept { return resources_; }
    // Whether the pass in progress (or the last one) changes the list views.
    bool RefreshView() const noexcept { return refreshView_; }

private:
    // What a pass decided at its start.
    struct PassFlags {
        bool RefreshView = false;  // list rows change in this pass
        bool Rebuild = false;      // the lists are cleared and filled anew
    };
    // One enumeration's result, with the lookup keys and addresses worked out
    // on the watch thread.
    template <class Record>
    struct Listing {
        std::uint32_t Status = 0;
        std::vector<Record> Records;
        std::vector<std::string> Keys;  // PairKey of each record
    };

    void Execute();
    void ReadLocalAddressesWhenDue();
    Listing<SessionRecord> ListSessions();
    Listing<FileRecord> ListFiles();
    std::optional<std::unordered_map<std::string, std::string>> AddressesOfNewSessions(
        const Listing<SessionRecord>& listing);
    void SessionScan(const PassFlags& flags, const Listing<SessionRecord>& listing,
                     const std::unordered_map<std::string, std::string>& addresses);
    void ResourceScan(const PassFlags& flags, const Listing<FileRecord>& listing, std::size_t from, std::size_t to,
                      std::string& lines);
    void RemoveOverLimit(const PassFlags& flags, std::int32_t limit, std::uint32_t TSessionInfo::*seconds,
                         EventKind kind);
    void SessionEvent(EventKind kind, const TSessionInfo& info);

    WatchContext ctx_;
    std::vector<TSessionInfo> sessions_;
    std::vector<std::string> sessionKeys_;  // PairKey of each tracked session
    std::unordered_map<std::string, std::size_t> sessionIndex_;
    std::vector<TFileInfo> resources_;
    std::vector<std::string> resourceKeys_;
    std::unordered_map<std::string, std::size_t> resourceIndex_;
    // The ids each tracked resource has in the scan under way (by index into
    // resources_); they replace its FileIds when the scan's last slice is
    // done, so that between slices every resource keeps a whole listing's ids.
    std::vector<std::vector<std::uint32_t>> scanIds_;
    std::atomic<bool> filesScanned_{false};
    std::vector<WatchEvent> events_;  // the pass's events, published when its scans are done
    std::mutex postedLock_;
    std::vector<WatchEvent> posted_;  // PostEvent's, waiting for a pass
    LocalAddresses localAddresses_;  // written before a scan is handed over, read in it
    std::optional<std::chrono::steady_clock::time_point> localAddressesRead_;
    bool enumerationFailed_ = false;  // the last pass told of a failed enumeration
    std::atomic<bool> refreshView_{false};
    std::mutex passLock_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{true};
    std::thread thread_;
};

}  // namespace corvane
