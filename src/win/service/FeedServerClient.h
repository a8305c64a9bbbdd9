#pragma once
// The pipe server's own parts, shared by its two halves: FeedServer.cpp
// (the pipe's life, callers coming, the loop, broadcasts) and
// FeedServerClient.cpp (one client's reads, writes and commands).
#include <windows.h>

#include <atomic>
#include <deque>
#include <string>

#include "core/feed/FeedCodec.h"
#include "win/service/FeedServer.h"

namespace corvane::win {

inline constexpr std::size_t kReadBytes = 4096;
inline constexpr std::size_t kWriteBytes = 64 * 1024;

inline UniqueHandle NewEvent(bool manualReset) {
    return UniqueHandle(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
}

struct FeedServer::Listener {
    UniqueHandle pipe;
    UniqueHandle event = NewEvent(true);
    OVERLAPPED overlapped{};
    bool pending = false;
};

struct FeedServer::Client {
    UniqueHandle pipe;
    UniqueHandle readEvent = NewEvent(true);
    UniqueHandle writeEvent = NewEvent(true);
    OVERLAPPED readOverlapped{};
    OVERLAPPED writeOverlapped{};
    char readBuffer[kReadBytes];
    std::string writeBuffer;
    bool reading = false;
    bool writing = false;
    // Under lock_:
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    bool ready = false;       // has its snapshot: gets every broadcast
    feed::Access granted = feed::Access::None;  // set before it is listed, then read only
    std::atomic<bool> drop{false};  // ends as soon as the thread comes to it
    // The server thread's own:
    feed::FrameReader reader;
    PipeCaller caller;
};

}  // namespace corvane::win
