#include "core/host/HeadlessWatch.h"

#include "core/text/Collation.h"
#include "core/watch/PassWait.h"

namespace corvane {
namespace {

// No main window: the scan runs on the thread that drives the passes.
class DirectRunner final : public IMainThreadRunner {
public:
    void RunOnMainThread(const std::function<void()>& call) override { call(); }
};

class NoViews final : public IWatchViews {
public:
    void AddSessionRow(const TSessionInfo&) override {}
    void UpdateSessionRow(const TSessionInfo&) override {}
    void RemoveSessionRow(const TSessionInfo*) override {}
    void AddResourceRow(const TFileInfo&) override {}
    void RemoveResourceRow(const TFileInfo*) override {}
};

class Owner final : public IWatchOwner {
public:
    Owner(const Settings& settings, std::function<void(std::uint32_t, std::uint32_t)> result)
        : settings_(settings), result_(std::move(result)) {}
    bool IgnoreAutoRefresh() const override { return settings_.IgnoreAutoRefresh; }
    bool IgnoreSharedResource() const override { return settings_.IgnoreSharedResource; }
    bool RefreshRequested() const override { return false; }  // no lists to refresh
    void ClearRefreshRequested() override {}
    const Settings& CurrentSettings() const override { return settings_; }
    void EnumerationResult(std::uint32_t sessions, std::uint32_t files) override {
        if (result_) result_(sessions, files);
    }

private:
    const Settings& settings_;
    std::function<void(std::uint32_t, std::uint32_t)> result_;
};

}  // namespace

struct HeadlessWatch::Glue {
    Owner owner;
    NoViews views;
    DirectRunner runner;
    PassWait wait;  // the pause of Run, ended by Stop
    TWatchThread thread;

    explicit Glue(const WatchParts& parts)
        : owner(parts.CurrentSettings, parts.EnumerationResult),
          thread(WatchContext{owner, parts.Server, parts.Resolver, views, parts.Events, parts.Clock, parts.Notifier,
                              runner, wait, text::PlatformCollation()}) {}
};

HeadlessWatch::HeadlessWatch(const WatchParts& parts) : glue_(std::make_unique<Glue>(parts)) {}

HeadlessWatch::~HeadlessWatch() = default;

void HeadlessWatch::Pass() {
    std::lock_guard<std::mutex> pass(passLock_);
    glue_->thread.Pass();
}

void HeadlessWatch::Run(std::chrono::milliseconds tick, const std::function<bool()>& due,
                        const std::function<void()>& afterPass) {
    while (!stopRequested_) {
        if (!due || due()) {
            Pass();
            if (afterPass) afterPass();
        }
        if (stopRequested_) return;
        glue_->wait.Wait(tick);
    }
}

void HeadlessWatch::Stop() {
    stopRequested_ = true;
    glue_->wait.Wake();
}

void HeadlessWatch::Wake() { glue_->wait.Wake(); }

void HeadlessWatch::PostEvent(WatchEvent event) { glue_->thread.PostEvent(std::move(event)); }

void HeadlessWatch::PublishPosted() {
    std::lock_guard<std::mutex> pass(passLock_);
    glue_->thread.PublishPosted();
}

const std::vector<TSessionInfo>& HeadlessWatch::Sessions() const noexcept { return glue_->thread.Sessions(); }

const std::vector<TFileInfo>& HeadlessWatch::Resources() const noexcept { return glue_->thread.Resources(); }

void HeadlessWatch::Snapshot(const std::function<void(const std::vector<TSessionInfo>&,
                                                      const std::vector<TFileInfo>&)>& read) const {
    std::lock_guard<std::mutex> pass(passLock_);
    read(glue_->thread.Sessions(), glue_->thread.Resources());
}

}  // namespace corvane
