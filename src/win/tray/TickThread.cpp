#include "win/tray/TickThread.h"

#include <chrono>

namespace corvane::win {

TickThread::TickThread(std::function<bool()> tick, std::function<unsigned()> period)
    : tick_(std::move(tick)), period_(std::move(period)), thread_([this] { Run(); }) {}

TickThread::~TickThread() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void TickThread::Wake() {
    {
        std::lock_guard lock(mutex_);
        if (!paused_) return;
        paused_ = false;
        ++wakes_;
    }
    changed_.notify_all();
}

void TickThread::Pause() {
    {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    changed_.notify_all();
}

bool TickThread::Running() const {
    std::lock_guard lock(mutex_);
    return !paused_;
}

void TickThread::Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (paused_) {
            changed_.wait(lock, [this] { return stop_ || !paused_; });
            continue;
        }
        const unsigned wakesBefore = wakes_;
        lock.unlock();
        bool keepGoing = false;
        try {
            keepGoing = tick_();
        } catch (...) {
            keepGoing = false;  // nothing may leave the thread
        }
        const unsigned period = keepGoing ? period_() : 0;
        lock.lock();
        if (!keepGoing) {
            // A wake that came in while the tick decided to stop wins.
            if (wakes_ == wakesBefore) paused_ = true;
            continue;
        }
        const unsigned pausesSeen = wakes_;
        changed_.wait_for(lock, std::chrono::milliseconds(period),
                          [&] { return stop_ || paused_ || wakes_ != pausesSeen; });
    }
}

}  // namespace corvane::win
