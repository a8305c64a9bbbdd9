#pragma once
// The real pause between passes, on a condition variable.
#include <condition_variable>
#include <mutex>

#include "core/watch/WatchPorts.h"

namespace corvane {

class PassWait final : public IPassWait {
public:
    void Wait(std::chrono::milliseconds timeout) override;
    void Wake() override;

private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool woken_ = false;
};

}  // namespace corvane
