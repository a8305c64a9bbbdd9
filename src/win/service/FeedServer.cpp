#include "win/service/FeedServer.h"

#include <aclapi.h>
#include <sddl.h>

#include <chrono>

#include "core/feed/FeedCodec.h"
#include "win/service/FeedServerClient.h"

namespace corvane::win {
namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;

// SYSTEM and Administrators: everything. The Interactive group, when it may
// look: read, and write data to send its commands (which it will be refused),
// but not create an instance (FILE_CREATE_PIPE_INSTANCE is the append right).
constexpr wchar_t kAdminsOnly[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr wchar_t kWithInteractive[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0012008B;;;IU)";

using UniqueDescriptor = UniqueResource<NullHandleTraits<PSECURITY_DESCRIPTOR, &LocalFree>>;

const wchar_t* DescriptorFor(feed::ShowToUsers show) {
    return show == feed::ShowToUsers::Interactive ? kWithInteractive : kAdminsOnly;
}

// A pipe's security descriptor is its first instance's: later instances do
// not change it. A changed setting is applied to the pipe itself.
bool ApplyDescriptor(HANDLE pipe, feed::ShowToUsers show) noexcept {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(DescriptorFor(show), SDDL_REVISION_1, &raw, nullptr))
        return false;
    UniqueDescriptor descriptor(raw);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present) return false;
    return SetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

}  // namespace

FeedServer::FeedServer(std::wstring pipeName, FeedServerHooks hooks)
    : pipeName_(std::move(pipeName)), hooks_(std::move(hooks)), stop_(NewEvent(true)), wake_(NewEvent(false)) {}

FeedServer::~FeedServer() { Stop(); }

feed::ShowToUsers FeedServer::CurrentShow() const {
    return hooks_.Show ? hooks_.Show() : feed::ShowToUsers::AdministratorsOnly;
}

UniqueHandle FeedServer::CreateInstance(bool first, DWORD& error) {
    const feed::ShowToUsers show = CurrentShow();
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(DescriptorFor(show), SDDL_REVISION_1, &raw, nullptr)) {
        error = GetLastError();
        return UniqueHandle();
    }
    UniqueDescriptor descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    // WRITE_DAC: the descriptor follows the setting while the pipe exists.
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | WRITE_DAC | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    HANDLE pipe = CreateNamedPipeW(pipeName_.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes,
                                   kPipeBufferBytes, 0, &attributes);
    if (pipe == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return UniqueHandle();
    }
    error = 0;
    if (first) shownTo_ = show;
    return UniqueHandle(pipe);
}

DWORD FeedServer::Start() {
    if (running_) return 0;
    ResetEvent(stop_.get());
    DWORD error = 0;
    listener_ = std::make_unique<Listener>();
    if (!Listen(true, error)) {
        listener_.reset();
        return error ? error : ERROR_GEN_FAILURE;
    }
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return 0;
}

void FeedServer::Stop() noexcept {
    if (!running_) return;
    SetEvent(stop_.get());
    if (thread_.joinable()) thread_.join();
    running_ = false;
}

bool FeedServer::Listen(bool first, DWORD& error) {
    Listener& l = *listener_;
    l.pipe = CreateInstance(first, error);
    if (!l.pipe) return false;
    l.overlapped = OVERLAPPED{};
    l.overlapped.hEvent = l.event.get();
    ResetEvent(l.event.get());
    l.pending = false;
    if (ConnectNamedPipe(l.pipe.get(), &l.overlapped)) {
        SetEvent(l.event.get());
    } else {
        const DWORD code = GetLastError();
        if (code == ERROR_IO_PENDING) l.pending = true;
        else if (code == ERROR_PIPE_CONNECTED) SetEvent(l.event.get());
        else {
            error = code;
            l.pipe.reset();
            return false;
        }
    }
    return true;
}

void FeedServer::Accept() {
    Listener& l = *listener_;
    DWORD bytes = 0;
    const bool connected = !l.pending || GetOverlappedResult(l.pipe.get(), &l.overlapped, &bytes, FALSE);
    ResetEvent(l.event.get());
    auto client = std::make_unique<Client>();
    client->pipe = std::move(l.pipe);
    if (connected) {
        client->caller = ReadPipeCaller(client->pipe.get());
        const feed::AccessDecision decision = feed::DecideAccess(CurrentShow(), client->caller.Tokens);
        client->granted = decision.Granted;
        feed::Hello hello;
        hello.Granted = decision.Granted;
        hello.Reason = decision.Reason;
        hello.CanCloseFiles = hooks_.CanCloseFiles && hooks_.CanCloseFiles();
        std::lock_guard guard(lock_);
        if (auto frame = feed::EncodeFrame(hello)) Enqueue(*client, std::move(*frame));
        // A caller let in to nothing reads why and closes its end, which
        // ends the connection here; it gets nothing else.
        if (decision.Granted != feed::Access::None) {
            if (hooks_.Snapshot)
                for (const feed::Message& m : hooks_.Snapshot())
                    if (auto frame = feed::EncodeFrame(m)) Enqueue(*client, std::move(*frame));
            client->ready = true;
        }
        Client& added = *client;
        clients_.push_back(std::move(client));
        StartWrite(added);
        StartRead(added);
    }
    // The next caller's instance comes with the next sweep.
}

// Called with lock_ held: a client let in to look that the setting in force
// no longer lets look gets nothing more.
void FeedServer::DropUnseeing(feed::ShowToUsers show) {
    for (auto& c : clients_) {
        if (c->granted != feed::Access::Look || c->drop) continue;
        if (feed::DecideAccess(show, c->caller.Tokens).Granted != feed::Access::None) continue;
        c->drop = true;
        c->queue.clear();
        c->queuedBytes = 0;
    }
}

void FeedServer::Sweep() noexcept {
    const feed::ShowToUsers show = CurrentShow();
    std::vector<std::unique_ptr<Client>> gone;
    {
        std::lock_guard guard(lock_);
        DropUnseeing(show);
        for (auto it = clients_.begin(); it != clients_.end();) {
            if ((*it)->drop) {
                gone.push_back(std::move(*it));
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& client : gone) Close(*client);
    // Tried once per change: the callers' tokens still decide who may look.
    if (show != shownTo_) {
        HANDLE any = listener_->pipe ? listener_->pipe.get() : clients_.empty() ? nullptr : clients_.front()->pipe.get();
        if (any) {
            ApplyDescriptor(any, show);
            shownTo_ = show;
        }
    }
    // An instance for the next caller whenever a place is free (also after
    // one could not be made: tried again at the next heartbeat at the latest).
    if (!listener_->pipe && clients_.size() < kMaxClients) {
        DWORD error = 0;
        Listen(false, error);
    }
}

void FeedServer::Run() noexcept {
    auto nextBeat = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHeartbeatMs);
    const std::string beat = *feed::EncodeFrame(feed::Heartbeat{});
    for (;;) {
        Sweep();
        std::vector<HANDLE> handles{stop_.get(), wake_.get()};
        std::vector<std::pair<Client*, bool>> owners;  // the client and whether the handle is its read
        if (listener_->pipe) handles.push_back(listener_->event.get());
        const std::size_t firstClient = handles.size();
        for (auto& c : clients_) {
            if (c->reading) {
                handles.push_back(c->readEvent.get());
                owners.emplace_back(c.get(), true);
            }
            if (c->writing) {
                handles.push_back(c->writeEvent.get());
                owners.emplace_back(c.get(), false);
            }
        }
        const auto now = std::chrono::steady_clock::now();
        const DWORD timeout =
            now >= nextBeat
                ? 0
                : static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(nextBeat - now).count());
        const DWORD signalled =
            WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
        if (signalled == WAIT_OBJECT_0) break;
        if (signalled == WAIT_TIMEOUT) {
            nextBeat = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHeartbeatMs);
            std::lock_guard guard(lock_);
            for (auto& c : clients_)
                if (c->ready) Enqueue(*c, beat);
        }
        if (signalled == WAIT_FAILED) Sleep(10);
        const std::size_t index = signalled - WAIT_OBJECT_0;
        if (listener_->pipe && index == firstClient - 1 && signalled < WAIT_OBJECT_0 + handles.size()) Accept();
        if (index >= firstClient && index < handles.size()) {
            auto [client, read] = owners[index - firstClient];
            if (read) ReadDone(*client);
            else WriteDone(*client);
        }
        // Whatever was queued meanwhile (broadcasts, heartbeats, results).
        std::lock_guard guard(lock_);
        for (auto& c : clients_) StartWrite(*c);
    }
    std::vector<std::unique_ptr<Client>> gone;
    {
        std::lock_guard guard(lock_);  // Broadcast may still come from another thread
        gone.swap(clients_);
    }
    for (auto& c : gone) Close(*c);
    if (listener_->pipe) {
        CancelIoEx(listener_->pipe.get(), nullptr);
        DWORD bytes = 0;
        if (listener_->pending) GetOverlappedResult(listener_->pipe.get(), &listener_->overlapped, &bytes, TRUE);
        listener_->pipe.reset();
    }
}

void FeedServer::Broadcast(const std::function<std::vector<feed::Message>()>& produce) {
    const feed::ShowToUsers show = CurrentShow();
    std::lock_guard guard(lock_);
    DropUnseeing(show);
    const std::vector<feed::Message> messages = produce();
    if (messages.empty()) return;
    std::vector<std::string> frames;
    frames.reserve(messages.size());
    for (const feed::Message& m : messages)
        if (auto frame = feed::EncodeFrame(m)) frames.push_back(std::move(*frame));
    for (auto& c : clients_) {
        if (!c->ready) continue;
        for (const std::string& frame : frames) Enqueue(*c, frame);
    }
    SetEvent(wake_.get());
}

void FeedServer::Publish(const std::vector<WatchEvent>& events) noexcept {
    if (events.empty()) return;
    try {
        Broadcast([&] {
            std::vector<feed::Message> messages;
            messages.reserve(events.size());
            for (const WatchEvent& e : events) messages.push_back(feed::EventMessage{e});
            return messages;
        });
    } catch (...) {
        // A feed that cannot take an event never holds the watch back.
    }
}

std::size_t FeedServer::ClientCount() const {
    std::lock_guard guard(lock_);
    return clients_.size();
}

}  // namespace corvane::win
