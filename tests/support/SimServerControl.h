#pragma once
// Test-side control of the simulated server DLL (netapi32.dll built from
// tests/support/simserver): sets what it lists and returns, reads back the
// calls it recorded and its counters. Works on the files in the DLL's folder
// (or the program's, when the DLL is in the system folder), so it runs in the process that loaded the DLL, in another one, or on Linux.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/simserver/SimServerFormat.h"

namespace corvane::test {

using SimText = simserver::Text;  // nullopt: a null pointer
using SimSession = simserver::Session;
using SimFile = simserver::File;
using SimState = simserver::State;

struct SimSessionDelCall {
    std::size_t sequence = 0;  // position in the call log, shared by all kinds
    SimText server;
    SimText clientName;        // as passed, e.g. "\\PC01"
    SimText userName;
    std::uint32_t status = 0;  // what the DLL returned
};

struct SimMessageSendCall {
    std::size_t sequence = 0;
    SimText server;
    SimText msgName;
    SimText fromName;
    SimText text;                 // the `buflen` bytes of UTF-16, in UTF-8; null for a null buffer
    std::uint32_t byteLength = 0; // the `buflen` argument
    std::uint32_t status = 0;
};

struct SimFileCloseCall {
    std::size_t sequence = 0;
    SimText server;
    std::uint32_t fileId = 0;
    std::uint32_t status = 0;
};

struct SimCalls {
    std::vector<SimSessionDelCall> sessionDels;
    std::vector<SimMessageSendCall> messageSends;
    std::vector<SimFileCloseCall> fileCloses;
    std::vector<std::string> stateErrors;
    std::vector<std::string> unreadableLines;  // should stay empty
};

struct SimCounters {
    simserver::Counters values;  // by the names in SimServerFormat.h

    std::int64_t Get(std::string_view name) const;
    std::int64_t Loads() const { return Get(simserver::kLoads); }
    std::int64_t Unloads() const { return Get(simserver::kUnloads); }
    std::int64_t SessionEnums() const { return Get(simserver::kSessionEnums); }
    std::int64_t FileEnums() const { return Get(simserver::kFileEnums); }
    std::int64_t SessionEnumOddArgs() const { return Get(simserver::kSessionEnumOddArgs); }
    std::int64_t FileEnumOddArgs() const { return Get(simserver::kFileEnumOddArgs); }
    std::int64_t SessionDels() const { return Get(simserver::kSessionDels); }
    std::int64_t MessageSends() const { return Get(simserver::kMessageSends); }
    std::int64_t BuffersAllocated() const { return Get(simserver::kBuffersAllocated); }
    std::int64_t BuffersFreed() const { return Get(simserver::kBuffersFreed); }
    std::int64_t BuffersOutstanding() const { return BuffersAllocated() - BuffersFreed(); }
    std::int64_t BadFrees() const { return Get(simserver::kBadFrees); }
    std::int64_t NullFrees() const { return Get(simserver::kNullFrees); }
    std::int64_t StateErrors() const { return Get(simserver::kStateErrors); }
};

class SimServerControl {
public:
    // `folder`: the folder that holds the netapi32.dll to control, or the
    // program that loaded it from the system folder.
    explicit SimServerControl(std::filesystem::path folder);

    const std::filesystem::path& Folder() const { return folder_; }

    // Back to the defaults: no sessions, no files, every status 0; the call
    // log and the counters are removed.
    void Reset() const;

    // The whole state; written atomically (temporary file, then rename).
    void Write(const SimState& state) const;
    SimState Read() const;  // defaults when there is no state file; throws if it does not parse

    // Read-modify-write helpers. Not atomic against the DLL's own rewrite
    // after a NetSessionDel: set state while no deletion is under way.
    void SetSessions(std::vector<SimSession> sessions) const;
    void SetFiles(std::vector<SimFile> files) const;
    void SetSessionStatus(std::uint32_t status) const;
    void SetFileStatus(std::uint32_t status) const;
    void SetBufferOnFailure(bool on) const;
    void SetDeleteRemovesSession(bool on) const;
    void SetSessionDelStatus(std::uint32_t status) const;
    void SetMessageSendStatus(std::uint32_t status) const;

    SimCalls Calls() const;
    SimCounters Counters() const;

private:
    template <typename Change>
    void Modify(Change change) const;

    std::filesystem::path folder_;
};

}  // namespace corvane::test
