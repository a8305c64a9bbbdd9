#include "win/feed/FeedClient.h"

#include "core/feed/FeedAccess.h"
#include "core/feed/FeedCodec.h"

namespace corvane::win {
namespace {

// A caller the service does not let look tries again now and then: an
// administrator may change the setting meanwhile.
constexpr DWORD kRefusedRetryMs = 5000;

UniqueHandle NewEvent() { return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

}  // namespace

FeedClient::FeedClient(std::wstring pipeName, FeedClientHooks hooks)
    : pipeName_(std::move(pipeName)), hooks_(std::move(hooks)), stop_(NewEvent()), outgoing_(NewEvent()) {}

FeedClient::~FeedClient() { Stop(); }

void FeedClient::Start() {
    if (thread_.joinable()) return;
    ResetEvent(stop_.get());
    thread_ = std::thread([this] { Run(); });
}

void FeedClient::Stop() noexcept {
    SetEvent(stop_.get());
    if (thread_.joinable()) thread_.join();
}

bool FeedClient::Send(const feed::Command& command) {
    if (!connected_) return false;
    auto frame = feed::EncodeFrame(command);
    if (!frame) return false;
    {
        std::lock_guard guard(lock_);
        commands_.push_back(std::move(*frame));
    }
    SetEvent(outgoing_.get());
    return true;
}

bool FeedClient::Pause(DWORD ms) const noexcept { return WaitForSingleObject(stop_.get(), ms) == WAIT_TIMEOUT; }

void FeedClient::Tell(bool connected, const std::string& why) {
    connected_ = connected;
    const int state = connected ? 1 : 0;
    if (state == told_ && why == toldWhy_) return;
    told_ = state;
    toldWhy_ = why;
    try {
        if (hooks_.State) hooks_.State(connected, why);
    } catch (...) {
    }
}

void FeedClient::Run() noexcept {
    for (;;) {
        DWORD retry = kRetryMs;
        const DWORD serviceId = hooks_.ServerProcessId ? hooks_.ServerProcessId() : 0;
        if (serviceId != 0) {
            // Reading and writing data only: the rights the pipe grants the
            // people at the computer (GENERIC_WRITE would ask for more).
            HANDLE raw = CreateFileW(pipeName_.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
            if (raw != INVALID_HANDLE_VALUE) {
                UniqueHandle pipe(raw);
                DWORD serverId = 0;
                // Whoever made a pipe of that name first is not trusted: only
                // the service's own process is.
                if (GetNamedPipeServerProcessId(pipe.get(), &serverId) && serverId == serviceId) {
                    Read(pipe.get());
                    if (told_ == 0 && toldWhy_ != kNoServiceText) retry = kRefusedRetryMs;
                } else {
                    Tell(false, kNoServiceText);
                }
            } else if (GetLastError() == ERROR_ACCESS_DENIED) {
                Tell(false, feed::kNoLookReason);
                retry = kRefusedRetryMs;
            } else {
                Tell(false, kNoServiceText);
            }
        } else {
            Tell(false, kNoServiceText);
        }
        {
            std::lock_guard guard(lock_);
            commands_.clear();  // for a connection that is gone
        }
        if (!Pause(retry)) return;
    }
}

void FeedClient::Read(HANDLE pipe) {
    UniqueHandle readEvent(NewEvent()), writeEvent(NewEvent());
    OVERLAPPED overlapped{};
    char buffer[16 * 1024];
    feed::FrameReader reader;
    bool greeted = false;
    std::string lostWhy = kNoServiceText;
    for (;;) {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = readEvent.get();
        ResetEvent(readEvent.get());
        if (!ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) break;
        bool stop = false, done = false;
        while (!done) {
            HANDLE handles[] = {stop_.get(), readEvent.get(), outgoing_.get()};
            const DWORD signalled = WaitForMultipleObjects(3, handles, FALSE, kSilenceMs);
            if (signalled == WAIT_OBJECT_0 + 1) {
                done = true;
            } else if (signalled == WAIT_OBJECT_0 + 2) {
                ResetEvent(outgoing_.get());
                std::deque<std::string> commands;
                {
                    std::lock_guard guard(lock_);
                    commands.swap(commands_);
                }
                for (const std::string& frame : commands) {
                    OVERLAPPED write{};
                    write.hEvent = writeEvent.get();
                    DWORD written = 0;
                    if (!WriteFile(pipe, frame.data(), static_cast<DWORD>(frame.size()), nullptr, &write) &&
                        GetLastError() != ERROR_IO_PENDING) {
                        stop = true;
                        break;
                    }
                    // A service that takes nothing in holds neither the program's end nor the silence check.
                    const HANDLE waits[] = {stop_.get(), writeEvent.get()};
                    if (WaitForMultipleObjects(2, waits, FALSE, kSilenceMs) != WAIT_OBJECT_0 + 1)
                        CancelIoEx(pipe, &write);
                    if (!GetOverlappedResult(pipe, &write, &written, TRUE) || written != frame.size()) {
                        stop = true;
                        break;
                    }
                }
                if (stop) break;
            } else {
                stop = true;  // the program ends, the service went silent, or the wait failed
                break;
            }
        }
        DWORD bytes = 0;
        if (stop) {
            CancelIoEx(pipe, &overlapped);
            GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
            break;
        }
        if (!GetOverlappedResult(pipe, &overlapped, &bytes, FALSE)) break;
        reader.Append(std::string_view(buffer, bytes));
        bool refused = false, stranger = false;
        while (auto message = reader.Next()) {
            if (const auto* hello = std::get_if<feed::Hello>(&*message)) {
                greeted = true;
                if (hello->Granted == feed::Access::None) {
                    refused = true;
                    lostWhy = hello->Reason.empty() ? feed::kNoLookReason : hello->Reason;
                }
            } else if (!greeted) {
                stranger = true;  // a server that does not greet first is not ours: nothing of it is shown
                break;
            }
            try {
                if (hooks_.Message) hooks_.Message(*message);
            } catch (...) {
            }
            if (refused) break;
            if (std::holds_alternative<feed::Hello>(*message)) Tell(true, {});
        }
        if (refused || stranger || reader.Error() != feed::DecodeError::None) break;
    }
    // The program's end is no loss to tell of.
    if (WaitForSingleObject(stop_.get(), 0) != WAIT_OBJECT_0) Tell(false, lostWhy);
}

}  // namespace corvane::win
