#include "support/SimServerControl.h"

#include <chrono>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace corvane::test {

namespace sim = simserver;
namespace fs = std::filesystem;

namespace {

// The server DLL replaces its files by renaming a new one over the old. Under
// Wine an open that meets the replacement fails for a moment: that is not a
// missing file (counters read as zero would go backwards), so try again.
std::optional<std::string> ReadFileBytes(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        std::ifstream in(path, std::ios::binary);
        if (in) return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::error_code ignored;
        if (!fs::exists(path, ignored) || std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::yield();
    }
}

void WriteFileAtomically(const fs::path& path, const std::string& content) {
    fs::path temp = path;
    temp += ".control.tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) throw std::runtime_error("cannot write " + temp.string());
    }
    fs::rename(temp, path);
}

bool ParseStatus(std::string_view field, std::uint32_t& out) {
    return sim::ParseInt(field, out);
}

}  // namespace

std::int64_t SimCounters::Get(std::string_view name) const {
    const auto it = values.find(name);
    return it == values.end() ? 0 : it->second;
}

SimServerControl::SimServerControl(fs::path folder) : folder_(std::move(folder)) {}

void SimServerControl::Reset() const {
    std::error_code ignored;
    fs::remove(folder_ / sim::kCallsFileName, ignored);
    fs::remove(folder_ / sim::kCountersFileName, ignored);
    fs::remove(folder_ / sim::kLifetimeFileName, ignored);
    Write(SimState());
}

void SimServerControl::Write(const SimState& state) const {
    WriteFileAtomically(folder_ / sim::kStateFileName, sim::SerializeState(state));
}

SimState SimServerControl::Read() const {
    SimState state;
    const std::optional<std::string> text = ReadFileBytes(folder_ / sim::kStateFileName);
    if (!text) return state;
    std::string error;
    if (!sim::ParseState(*text, state, error)) throw std::runtime_error(error);
    return state;
}

template <typename Change>
void SimServerControl::Modify(Change change) const {
    SimState state = Read();
    change(state);
    Write(state);
}

void SimServerControl::SetSessions(std::vector<SimSession> sessions) const {
    Modify([&](SimState& s) { s.sessions = std::move(sessions); });
}
void SimServerControl::SetFiles(std::vector<SimFile> files) const {
    Modify([&](SimState& s) { s.files = std::move(files); });
}
void SimServerControl::SetSessionStatus(std::uint32_t status) const {
    Modify([&](SimState& s) { s.sessionStatus = status; });
}
void SimServerControl::SetFileStatus(std::uint32_t status) const {
    Modify([&](SimState& s) { s.fileStatus = status; });
}
void SimServerControl::SetBufferOnFailure(bool on) const {
    Modify([&](SimState& s) { s.bufferOnFailure = on; });
}
void SimServerControl::SetDeleteRemovesSession(bool on) const {
    Modify([&](SimState& s) { s.deleteRemovesSession = on; });
}
void SimServerControl::SetSessionDelStatus(std::uint32_t status) const {
    Modify([&](SimState& s) { s.sessionDelStatus = status; });
}
void SimServerControl::SetMessageSendStatus(std::uint32_t status) const {
    Modify([&](SimState& s) { s.messageSendStatus = status; });
}

SimCalls SimServerControl::Calls() const {
    SimCalls calls;
    const std::optional<std::string> text = ReadFileBytes(folder_ / sim::kCallsFileName);
    if (!text) return calls;
    std::size_t sequence = 0;
    for (std::string_view line : sim::SplitLines(*text)) {
        const std::vector<std::string_view> f = sim::SplitFields(line);
        std::vector<std::optional<SimText>> texts;
        for (std::string_view field : f) texts.push_back(sim::DecodeField(field));
        auto allTexts = [&](std::initializer_list<std::size_t> indexes) {
            for (std::size_t i : indexes)
                if (!texts[i]) return false;
            return true;
        };
        bool ok = false;
        if (f[0] == sim::kSessionDelCall && f.size() == 5 && allTexts({1, 2, 3})) {
            SimSessionDelCall call{sequence, *texts[1], *texts[2], *texts[3], 0};
            ok = ParseStatus(f[4], call.status);
            if (ok) calls.sessionDels.push_back(std::move(call));
        } else if (f[0] == sim::kMessageSendCall && f.size() == 7 && allTexts({1, 2, 3, 4})) {
            SimMessageSendCall call{sequence, *texts[1], *texts[2], *texts[3], *texts[4], 0, 0};
            ok = ParseStatus(f[5], call.byteLength) && ParseStatus(f[6], call.status);
            if (ok) calls.messageSends.push_back(std::move(call));
        } else if (f[0] == sim::kFileCloseCall && f.size() == 4 && allTexts({1})) {
            SimFileCloseCall call{sequence, *texts[1], 0, 0};
            ok = ParseStatus(f[2], call.fileId) && ParseStatus(f[3], call.status);
            if (ok) calls.fileCloses.push_back(std::move(call));
        } else if (f[0] == sim::kStateErrorRecord && f.size() == 2 && texts[1] && *texts[1]) {
            calls.stateErrors.push_back(**texts[1]);
            ok = true;
        }
        if (!ok) calls.unreadableLines.emplace_back(line);
        ++sequence;
    }
    return calls;
}

SimCounters SimServerControl::Counters() const {
    SimCounters counters;
    if (const std::optional<std::string> text = ReadFileBytes(folder_ / sim::kCountersFileName))
        counters.values = sim::ParseCounters(*text);
    if (const std::optional<std::string> text = ReadFileBytes(folder_ / sim::kLifetimeFileName)) {
        for (std::size_t start = 0, end; (end = text->find('\n', start)) != std::string::npos; start = end + 1)
            ++counters.values[text->substr(start, end - start)];
    }
    return counters;
}

}  // namespace corvane::test
