#include "linux/WatchGlue.h"

#include "core/text/Collation.h"
#include "core/watch/PassWait.h"

namespace corvane::samba {
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
    explicit Owner(const Settings& settings) : settings_(settings) {}
    bool IgnoreAutoRefresh() const override { return settings_.IgnoreAutoRefresh; }
    bool IgnoreSharedResource() const override { return settings_.IgnoreSharedResource; }
    bool RefreshRequested() const override { return false; }  // no lists to refresh
    void ClearRefreshRequested() override {}
    const Settings& CurrentSettings() const override { return settings_; }
    // The Samba port tells its own problems (standard error, once).
    void EnumerationResult(std::uint32_t, std::uint32_t) override {}

private:
    const Settings& settings_;
};

}  // namespace

struct HeadlessWatch::Glue {
    Owner owner;
    NoViews views;
    DirectRunner runner;
    PassWait wait;  // the pause of Run, ended by Stop
    TWatchThread thread;

    explicit Glue(const WatchParts& parts)
        : owner(parts.CurrentSettings),
          thread(WatchContext{owner, parts.Server, parts.Resolver, views, parts.Events, parts.Clock, parts.Notifier,
                              runner, wait, text::PlatformCollation()}) {}
};

HeadlessWatch::HeadlessWatch(const WatchParts& parts) : glue_(std::make_unique<Glue>(parts)) {}

HeadlessWatch::~HeadlessWatch() = default;

void HeadlessWatch::Pass() { glue_->thread.Pass(); }

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

const std::vector<TSessionInfo>& HeadlessWatch::Sessions() const noexcept { return glue_->thread.Sessions(); }

const std::vector<TFileInfo>& HeadlessWatch::Resources() const noexcept { return glue_->thread.Resources(); }

}  // namespace corvane::samba
