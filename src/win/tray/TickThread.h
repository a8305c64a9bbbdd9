#pragma once
// A worker that calls a tick, then waits a period, again and again, and can
// be paused and woken. The tick runs on the worker: it only decides and posts
// work to the window thread, so the worker never waits for the window thread
// and destroying it from there cannot hang.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace corvane::win {

class TickThread {
public:
    // `tick` returns false to pause the worker until the next Wake.
    // `period` is read after each tick, in milliseconds.
    TickThread(std::function<bool()> tick, std::function<unsigned()> period);
    ~TickThread();  // stops and joins
    TickThread(const TickThread&) = delete;
    TickThread& operator=(const TickThread&) = delete;

    // Resumes a paused worker, which ticks at once.
    void Wake();
    void Pause();
    bool Running() const;

private:
    void Run();

    std::function<bool()> tick_;
    std::function<unsigned()> period_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool paused_ = true;
    bool stop_ = false;
    unsigned wakes_ = 0;
    std::thread thread_;
};

}  // namespace corvane::win
