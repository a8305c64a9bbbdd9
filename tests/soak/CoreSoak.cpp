// A long run of the watch as the program runs it: the watch thread, the
// hand-over of every scan to a main thread that waits for it, the pause
// between passes, refresh requests and mode changes from the main thread,
// and at the end the teardown that keeps serving until the thread is done.
// The server churns: sessions and open files come and go, names change
// letter case between passes, some names hold commas and line breaks, the
// listings fail now and then, sessions are ended for their connected time.
// The event log is written to disk in code page 932 with a small size limit,
// so it rotates again and again; every backup that rotation deletes is read
// first, so every line that ever reached the disk is accounted for.
//
// Then many short lives of a watch thread: started, a few passes, ended
// (sometimes in the middle of a pass), torn down while the hand-over is
// served, so that a teardown that hangs or races shows.
//
// usage: corvane_soak [--passes N] [--teardowns N] [--dir DIR]
// Prints its figures; exits 1 when a line is missing, torn or told twice,
// when live heap grows over the run, or when a teardown hangs. Built with
// AddressSanitizer (host preset) it also fails on a leak; with ThreadSanitizer
// (tsan preset) on a data race.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' own count of the heap in use (their common interface).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define CORVANE_SOAK_SANITIZER_HEAP 1
#else
#include <malloc.h>
#endif

#include "core/events/EventLog.h"
#include "core/text/Collation.h"
#include "core/text/Text.h"
#include "core/views/ListRows.h"
#include "core/watch/PassWait.h"
#include "core/watch/WatchThread.h"
#include "linux/LinuxAdapters.h"
#include "support/FakeWatchPorts.h"
#include "support/TestFiles.h"

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;

const text::SimpleCollation kCollation;

std::size_t LiveHeapBytes() {
#ifdef CORVANE_SOAK_SANITIZER_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// An order-free fingerprint of a set of lines: a line missing, told twice or
// changed moves the sum. Kept instead of the lines, whose number has no bound.
std::uint64_t LineHash(const std::string& s) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

struct Fingerprint {
    long count = 0;
    std::uint64_t sum = 0;
    void Add(const std::string& line) {
        ++count;
        sum += LineHash(line);
    }
    bool operator==(const Fingerprint&) const = default;
};

// The main thread's side of the hand-over: calls queued by the watch thread
// run here, one at a time, while their caller waits for them.
class QueueRunner final : public IMainThreadRunner {
public:
    void RunOnMainThread(const std::function<void()>& call) override {
        Request request;
        request.call = &call;
        std::unique_lock<std::mutex> lock(lock_);
        queue_.push_back(&request);
        ready_.notify_all();
        done_.wait(lock, [&] { return request.done; });
        if (request.error) std::rethrow_exception(request.error);
    }

    // Serves queued calls until `timeout` has passed with none left; returns
    // how many were served.
    int Serve(std::chrono::milliseconds timeout) {
        int served = 0;
        std::unique_lock<std::mutex> lock(lock_);
        while (ready_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) {
            Request* request = queue_.front();
            queue_.pop_front();
            lock.unlock();
            try {
                (*request->call)();
            } catch (...) {
                request->error = std::current_exception();
            }
            lock.lock();
            request->done = true;
            done_.notify_all();
            ++served;
            timeout = std::chrono::milliseconds(0);
        }
        return served;
    }

private:
    struct Request {
        const std::function<void()>* call = nullptr;
        bool done = false;
        std::exception_ptr error;
    };
    std::mutex lock_;
    std::condition_variable ready_, done_;
    std::deque<Request*> queue_;
};

// A file server whose sessions and open files change on every listing. Each
// identity is new (a counter in its user name), so every one that a listing
// shows must be told once as it comes and once as it goes. Called from the
// watch thread (listings) and the main thread (ends).
class ChurnServer final : public IServerApi {
public:
    explicit ChurnServer(unsigned seed) : random_(seed) {}

    std::uint32_t EnumSessions(std::vector<SessionRecord>& out) override {
        std::lock_guard<std::mutex> lock(lock_);
        ++sessionEnums_;
        if (Chance(40)) return 5;  // access denied now and then
        if (sessions_.size() < kMaxSessions && Chance(3)) {
            const unsigned n = nextSession_++;
            Live<SessionRecord> live;
            live.record.ComputerName = ComputerName(n);
            live.record.UserName = UserName(n);
            live.record.OpenCount = n % 7;
            sessions_.push_back(live);
        }
        if (!sessions_.empty() && Chance(4)) sessions_.erase(sessions_.begin() + Pick(sessions_.size()));
        out.clear();
        for (auto& [s, listed] : sessions_) {
            s.ConnectedSeconds += 1;
            s.IdleSeconds = Chance(2) ? 0 : s.IdleSeconds + 1;
            // The same session in other letters: still one identity.
            if (Chance(5)) FlipCase(s.ComputerName);
            out.push_back(s);
            if (!listed) listedSessions_.Add(Tail(s.ComputerName, s.UserName));
            listed = true;
        }
        return 0;
    }

    std::uint32_t EnumFiles(std::vector<FileRecord>& out) override {
        std::lock_guard<std::mutex> lock(lock_);
        if (Chance(60)) return 2114;  // the server service stopped
        if (files_.size() < kMaxFiles && Chance(2)) {
            const unsigned n = nextFile_++;
            Live<FileRecord> live;
            live.record.FileId = n;
            live.record.PathName = "D:\\共有\\営業,見積\\資料" + std::to_string(n) + ".xlsx";
            live.record.UserName = "利用者" + std::to_string(n % 13);
            files_.push_back(live);
        }
        if (!files_.empty() && Chance(3)) files_.erase(files_.begin() + Pick(files_.size()));
        out.clear();
        for (auto& [f, listed] : files_) {
            out.push_back(f);
            if (!listed) listedFiles_.Add(Lower(OneLineName(f.UserName) + "," + OneLineName(f.PathName)));
            listed = true;
        }
        return 0;
    }

    void SessionDel(const std::string& uncClientName, const std::string& userName) override {
        std::lock_guard<std::mutex> lock(lock_);
        ++deletions_;
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
            if (kCollation.EqualIgnoreCase("\\\\" + it->record.ComputerName, uncClientName) &&
                kCollation.EqualIgnoreCase(it->record.UserName, userName)) {
                sessions_.erase(it);
                return;
            }
        }
    }
    void MessageBufferSend(const std::string&, const std::string&) override {}

    // Everyone leaves; the next listing is empty.
    void Empty() {
        std::lock_guard<std::mutex> lock(lock_);
        sessions_.clear();
        files_.clear();
        quiet_ = true;
    }

    long SessionEnums() const { return sessionEnums_; }
    long Deletions() const { return deletions_; }
    // The identities that a listing showed, each as the tail of its log
    // lines in lower case.
    Fingerprint ListedSessions() const {
        std::lock_guard<std::mutex> lock(lock_);
        return listedSessions_;
    }
    Fingerprint ListedFiles() const {
        std::lock_guard<std::mutex> lock(lock_);
        return listedFiles_;
    }

    static std::string Tail(const std::string& computer, const std::string& user) {
        return Lower(OneLineName(computer) + ",(N/A)," + OneLineName(user));
    }
    static std::string Lower(std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    }

private:
    static constexpr std::size_t kMaxSessions = 8;
    static constexpr std::size_t kMaxFiles = 16;
    template <class Record>
    struct Live {
        Record record;
        bool listed = false;
    };

    bool Chance(unsigned oneIn) { return !quiet_ && random_() % oneIn == 0; }
    std::size_t Pick(std::size_t n) { return random_() % n; }
    static void FlipCase(std::string& s) {
        for (char& c : s) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
    }
    static std::string ComputerName(unsigned n) {
        switch (n % 4) {
            case 0: return "PC-営業" + std::to_string(n % 50);
            case 1: return "note,07";
            case 2: return "Tablet\r\n2026/12/08 09:00:00,切断検出,X";
            default: return std::string(300, 'W');
        }
    }
    static std::string UserName(unsigned n) { return "tanaka\t" + std::to_string(n); }

    mutable std::mutex lock_;
    std::minstd_rand random_;
    bool quiet_ = false;
    std::vector<Live<SessionRecord>> sessions_;
    std::vector<Live<FileRecord>> files_;
    unsigned nextSession_ = 0, nextFile_ = 0;
    std::atomic<long> sessionEnums_{0}, deletions_{0};
    Fingerprint listedSessions_, listedFiles_;
};

// What the log's lines tell: counts, and fingerprints of the identities in
// them (the tail after the event word, in lower case).
struct LineTally {
    long lines = 0, ends = 0, autoEnds = 0, torn = 0;
    Fingerprint connects, allEnds, accesses;
    std::vector<std::string> strange;
};

void TallyLines(const std::string& cp932, LineTally& tally) {
    std::size_t start = 0;
    while (start < cp932.size()) {
        const std::size_t end = cp932.find("\r\n", start);
        if (end == std::string::npos) {
            ++tally.torn;  // a line without its end
            break;
        }
        const std::string line = text::Cp932ToUtf8(cp932.substr(start, end - start));
        start = end + 2;
        ++tally.lines;
        // "yyyy/mm/dd hh:nn:ss," then the event.
        if (line.size() < 20 || line[4] != '/' || line[19] != ',') {
            ++tally.torn;
            continue;
        }
        const std::string event = line.substr(20);
        auto after = [&](const char* word) -> std::optional<std::string> {
            const std::string w = word;
            if (event.rfind(w, 0) != 0) return std::nullopt;
            return ChurnServer::Lower(event.substr(w.size()));
        };
        if (auto tail = after("接続検出,")) {
            tally.connects.Add(*tail);
        } else if (auto gone = after("切断検出,")) {
            ++tally.ends;
            tally.allEnds.Add(*gone);
        } else if (auto ended = after("接続時間による自動切断,")) {
            ++tally.autoEnds;
            tally.allEnds.Add(*ended);
        } else if (auto access = after("アクセス検出,")) {
            tally.accesses.Add(*access);
        } else if (tally.strange.size() < 3) {
            tally.strange.push_back(line);
        }
    }
}

// The main window's side: failed enumerations are counted, not kept.
struct SoakOwner final : test::FakeOwner {
    long failures = 0;
    void EnumerationResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) override {
        failures += sessionStatus != 0 || fileStatus != 0;
    }
};

// Announcements are counted, not kept: a soak keeps no record that grows.
struct CountingNotifier final : INotifier {
    long tips = 0, balloons = 0, sounds = 0, animations = 0;
    void SetTipHelp(const std::string&) override { ++tips; }
    void ShowBalloonHelp(const std::string&, const std::string&, int, TBalloonIconType) override { ++balloons; }
    void PlayWave(const std::string&) override { ++sounds; }
    void StartIconAnimation(int) override { ++animations; }
};

// The log's files on disk; a backup about to be deleted by rotation is read
// first, so that its lines still count.
class KeepingFileSystem final : public ILogFileSystem {
public:
    explicit KeepingFileSystem(LineTally& tally) : tally_(tally) {}
    bool Exists(const std::string& path) override { return files_.Exists(path); }
    std::uint32_t OpenForRead(const std::string& path, std::unique_ptr<ILogFile>& file) override {
        return files_.OpenForRead(path, file);
    }
    std::uint32_t Create(const std::string& path, std::unique_ptr<ILogFile>& file) override {
        return files_.Create(path, file);
    }
    std::uint32_t CreateNew(const std::string& path, std::unique_ptr<ILogFile>& file) override {
        return files_.CreateNew(path, file);
    }
    std::uint32_t OpenForAppend(const std::string& path, std::unique_ptr<ILogFile>& file) override {
        return files_.OpenForAppend(path, file);
    }
    std::uint32_t Delete(const std::string& path) override {
        const std::string bytes = test::ReadBytes(path);
        const std::uint32_t code = files_.Delete(path);
        if (code == 0) {
            TallyLines(bytes, tally_);
            ++rotations;
        }
        return code;
    }
    std::uint32_t Move(const std::string& from, const std::string& to) override { return files_.Move(from, to); }


    long rotations = 0;

private:
    samba::PosixLogFileSystem files_;
    LineTally& tally_;
};

struct Options {
    long passes = 1000000;
    long teardowns = 1000;
    std::string dir = "soak";
};

bool Fail(const std::string& what) {
    std::printf("FAILED: %s\n", what.c_str());
    return false;
}

// Passes of one watch thread against the churning server, the main thread
// serving its hand-overs and now and then asking for a refresh or switching
// modes, then everyone leaving, then the teardown.
bool SoakPasses(const Options& options) {
    namespace fs = std::filesystem;
    fs::remove_all(options.dir);
    fs::create_directories(options.dir);
    const std::string logPath = options.dir + "/" + kLogFileName;

    LineTally tally;
    KeepingFileSystem files(tally);
    samba::SystemClock clock;
    EventLog log(files, clock, logPath, [] { return 16384; });

    SoakOwner owner;
    owner.settings.IgnoreLocalConnection = false;
    owner.settings.DisconnectConnTime = 60;
    owner.settings.PopupNotifyWindow = true;
    owner.settings.PopupNotifyWindowByTray = true;
    owner.settings.NotifyResourceAccess = true;
    ChurnServer server(20261208);
    test::FakeResolver resolver;  // no name resolves: every address is "(N/A)"
    std::recursive_mutex listLock;
    views::ListRows rows(listLock, kCollation);
    CountingNotifier notifier;
    QueueRunner runner;
    PassWait wait;
    TWatchThread thread(WatchContext{owner, server, resolver, rows, log, clock, notifier, runner, wait, kCollation});

    std::vector<std::pair<long, std::size_t>> heap;  // (pass, live heap bytes)
    const auto started = Clock::now();
    thread.Start();
    long lastSample = -1;
    for (long served = 0; server.SessionEnums() < options.passes; ++served) {
        runner.Serve(std::chrono::milliseconds(5));
        thread.Wake();  // the next pass at once: no half-second pauses in a soak
        // The main thread's own doings between passes.
        if (served % 97 == 0) {
            owner.refreshRequested = true;  // F5
            thread.Wake();
        }
        if (served % 1009 == 1008) owner.settings.IgnoreAutoRefresh = !owner.settings.IgnoreAutoRefresh;
        if (served % 4001 == 4000) owner.settings.IgnoreSharedResource = !owner.settings.IgnoreSharedResource;
        const long passes = server.SessionEnums();
        const long sample = passes * 10 / options.passes;
        if (sample != lastSample) {
            lastSample = sample;
            heap.emplace_back(passes, LiveHeapBytes());
        }
    }
    // Everyone leaves; watch files again so that the last pass sees them go.
    owner.settings.IgnoreSharedResource = false;
    server.Empty();
    const long target = server.SessionEnums() + 3;
    while (server.SessionEnums() < target) {
        runner.Serve(std::chrono::milliseconds(5));
        thread.Wake();
    }
    thread.Terminate();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!thread.Finished() && Clock::now() < deadline) runner.Serve(std::chrono::milliseconds(5));
    if (!thread.Finished()) return Fail("the watch thread did not end within 10 s of Terminate");
    thread.WaitFor();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    heap.emplace_back(server.SessionEnums(), LiveHeapBytes());

    TallyLines(test::ReadBytes(log.BackupPath()), tally);
    TallyLines(test::ReadBytes(logPath), tally);

    std::printf("passes %ld in %.1f s (%.0f per second)\n", server.SessionEnums(), seconds,
                server.SessionEnums() / seconds);
    const Fingerprint listedSessions = server.ListedSessions();
    const Fingerprint listedFiles = server.ListedFiles();
    std::printf("log lines %ld: %ld connections, %ld seen gone, %ld ended for their time, %ld accesses; "
                "%ld rotations; %ld ends asked of the server\n",
                tally.lines, tally.connects.count, tally.ends, tally.autoEnds, tally.accesses.count,
                files.rotations, server.Deletions());
    std::printf("identities the server listed: %ld sessions, %ld open files; tips %ld, balloons %ld, blinks %ld; passes told of a failed listing %ld\n",
                listedSessions.count, listedFiles.count, notifier.tips, notifier.balloons, notifier.animations,
                owner.failures);
    std::printf("live heap bytes by pass:");
    for (const auto& [pass, bytes] : heap) std::printf(" %ld:%zu", pass, bytes);
    std::printf("\n");

    bool ok = true;
    if (tally.torn) ok = Fail(std::to_string(tally.torn) + " torn lines");
    for (const auto& line : tally.strange) ok = Fail("a line that is no event: " + line);
    // Every session the server listed came and went once each; every open
    // file it listed was told once.
    if (!(tally.connects == listedSessions)) ok = Fail("connection lines differ from the sessions listed");
    if (!(tally.allEnds == listedSessions)) ok = Fail("end lines differ from the sessions listed");
    if (!(tally.accesses == listedFiles)) ok = Fail("access lines differ from the files listed");
    if (server.Deletions() != tally.autoEnds) ok = Fail("an end asked of the server has no line, or the reverse");
    if (!thread.Sessions().empty() || !thread.Resources().empty()) ok = Fail("records still tracked at the end");
    if (files.rotations < 2 && options.passes >= 10000) ok = Fail("the log never rotated");
    // Live heap: after the first tenth of the run (the log's buffers, the
    // tables at their working size) it must not keep growing.
    // What a pass has in hand when a sample is taken comes and goes; 128 KiB
    // is far above that and far below what one lost record per pass adds up to.
    if (heap.size() >= 3) {
        const std::size_t settled = heap[1].second;
        std::size_t most = 0;
        for (std::size_t i = 2; i < heap.size(); ++i) most = std::max(most, heap[i].second);
        if (most > settled + 128 * 1024) ok = Fail("live heap grew from " + std::to_string(settled) + " to " +
                                                    std::to_string(most) + " bytes");
    }
    return ok;
}

// Many short lives of a watch thread with the real pause between passes:
// started, served for a pass or two, ended at a random moment (often while a
// scan waits to be served), and torn down the way the main window does it.
bool SoakTeardowns(const Options& options) {
    std::minstd_rand random(8);
    long hung = 0, midPass = 0;
    const auto started = Clock::now();
    for (long i = 0; i < options.teardowns; ++i) {
        test::FakeOwner owner;
        owner.settings.IgnoreLocalConnection = false;
        ChurnServer server(static_cast<unsigned>(i));
        test::FakeResolver resolver;
        test::FakeViews views;
        test::FakeLog log;
        test::FakeClock clock;
        test::FakeNotifier notifier;
        QueueRunner runner;
        PassWait wait;
        TWatchThread thread(
            WatchContext{owner, server, resolver, views, log, clock, notifier, runner, wait, kCollation});
        thread.Start();
        const long calls = static_cast<long>(random() % 4);
        for (long served = 0; served < calls;) {
            served += runner.Serve(std::chrono::milliseconds(1));
            if (random() % 2) thread.Wake();
        }
        if (!thread.Finished() && server.SessionEnums() > 0) ++midPass;
        thread.Terminate();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!thread.Finished() && Clock::now() < deadline) runner.Serve(std::chrono::milliseconds(1));
        if (!thread.Finished()) {
            ++hung;
            break;  // the thread waits on a hand-over no one serves; it cannot be joined
        }
        thread.WaitFor();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("teardowns %ld in %.1f s (%ld after a pass had begun), hung %ld\n", options.teardowns, seconds,
                midPass, hung);
    if (hung) {
        std::fflush(stdout);
        std::_Exit(1);
    }
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--dir") {
            options.dir = value;
            continue;
        }
        const auto number = text::ParseInt32(value);
        if (!number || *number < 0) return false;
        if (name == "--passes") options.passes = *number;
        else if (name == "--teardowns") options.teardowns = *number;
        else return false;
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: corvane_soak [--passes N] [--teardowns N] [--dir DIR]\n");
        return 2;
    }
    bool ok = SoakPasses(options);
    ok = SoakTeardowns(options) && ok;
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}
