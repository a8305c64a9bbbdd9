#include "win/service/FeedServerClient.h"

namespace corvane::win {

void FeedServer::Enqueue(Client& client, std::string frame) {
    if (client.drop) return;
    client.queuedBytes += frame.size();
    client.queue.push_back(std::move(frame));
    if (client.queuedBytes > kMaxQueuedBytes) {
        // A tray that does not keep up resyncs from a snapshot when it comes back.
        client.drop = true;
        client.queue.clear();
        client.queuedBytes = 0;
    }
}

void FeedServer::StartRead(Client& client) {
    if (client.reading || client.drop) return;
    client.readOverlapped = OVERLAPPED{};
    client.readOverlapped.hEvent = client.readEvent.get();
    ResetEvent(client.readEvent.get());
    if (ReadFile(client.pipe.get(), client.readBuffer, kReadBytes, nullptr, &client.readOverlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
        client.reading = true;
    } else {
        client.drop = true;
    }
}

void FeedServer::ReadDone(Client& client) {
    client.reading = false;
    DWORD bytes = 0;
    if (!GetOverlappedResult(client.pipe.get(), &client.readOverlapped, &bytes, FALSE)) {
        client.drop = true;  // gone, or broken
        return;
    }
    client.reader.Append(std::string_view(client.readBuffer, bytes));
    while (auto message = client.reader.Next()) {
        const auto* command = std::get_if<feed::Command>(&*message);
        if (!command) {
            client.drop = true;  // a client only ever sends commands
            return;
        }
        HandleCommand(client, *command);
    }
    if (client.reader.Error() != feed::DecodeError::None) {
        client.drop = true;
        return;
    }
    StartRead(client);
}

void FeedServer::HandleCommand(Client& client, const feed::Command& command) {
    const feed::AccessDecision decision = feed::DecideAccess(CurrentShow(), client.caller.Tokens);
    feed::CommandResult result;
    if (!feed::MayRunCommand(decision.Granted)) {
        result.Outcome = feed::CommandOutcome::Refused;
        result.Text = decision.Reason;
    } else if (hooks_.Command) {
        try {
            result = hooks_.Command(command, client.caller);
        } catch (...) {
            result.Outcome = feed::CommandOutcome::Failed;
            result.Status = ERROR_GEN_FAILURE;
        }
    }
    result.Id = command.Id;
    std::lock_guard guard(lock_);
    if (auto frame = feed::EncodeFrame(result)) Enqueue(client, std::move(*frame));
    StartWrite(client);
}

// Called with lock_ held or from the thread alone; takes as many whole frames
// as fit one write.
void FeedServer::StartWrite(Client& client) {
    if (client.writing || client.drop || client.queue.empty()) return;
    client.writeBuffer.clear();
    while (!client.queue.empty() &&
           (client.writeBuffer.empty() || client.writeBuffer.size() + client.queue.front().size() <= kWriteBytes)) {
        client.writeBuffer += client.queue.front();
        client.queuedBytes -= client.queue.front().size();
        client.queue.pop_front();
    }
    client.writeOverlapped = OVERLAPPED{};
    client.writeOverlapped.hEvent = client.writeEvent.get();
    ResetEvent(client.writeEvent.get());
    if (WriteFile(client.pipe.get(), client.writeBuffer.data(), static_cast<DWORD>(client.writeBuffer.size()),
                  nullptr, &client.writeOverlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
        client.writing = true;
    } else {
        client.drop = true;
    }
}

void FeedServer::WriteDone(Client& client) {
    client.writing = false;
    DWORD bytes = 0;
    if (!GetOverlappedResult(client.pipe.get(), &client.writeOverlapped, &bytes, FALSE) ||
        bytes != client.writeBuffer.size()) {
        client.drop = true;
        return;
    }
    std::lock_guard guard(lock_);
    StartWrite(client);
}

void FeedServer::Close(Client& client) noexcept {
    // Nothing of a buffer may be in the system's hands once it is freed.
    CancelIoEx(client.pipe.get(), nullptr);
    DWORD bytes = 0;
    if (client.reading) GetOverlappedResult(client.pipe.get(), &client.readOverlapped, &bytes, TRUE);
    if (client.writing) GetOverlappedResult(client.pipe.get(), &client.writeOverlapped, &bytes, TRUE);
    client.reading = client.writing = false;
    DisconnectNamedPipe(client.pipe.get());
}

}  // namespace corvane::win
