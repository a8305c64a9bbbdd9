#include "core/watch/PassWait.h"

namespace corvane {

void PassWait::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(lock_);
    wake_.wait_for(lock, timeout, [this] { return woken_; });
    woken_ = false;
}

void PassWait::Wake() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        woken_ = true;
    }
    wake_.notify_all();
}

}  // namespace corvane
