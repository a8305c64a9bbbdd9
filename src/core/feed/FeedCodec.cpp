#include "core/feed/FeedCodec.h"

#include <type_traits>

namespace corvane::feed {
namespace {

enum class Type : std::uint8_t {
    Hello = 1,
    SnapshotBegin,
    SnapshotEnd,
    SessionRow,
    FileRow,
    RowGone,
    Health,
    WatchSettings,
    Event,
    Heartbeat,
    Command,
    CommandResult,
};

template <class T>
constexpr Type TypeOf() {
    if constexpr (std::is_same_v<T, Hello>) return Type::Hello;
    else if constexpr (std::is_same_v<T, SnapshotBegin>) return Type::SnapshotBegin;
    else if constexpr (std::is_same_v<T, SnapshotEnd>) return Type::SnapshotEnd;
    else if constexpr (std::is_same_v<T, SessionRow>) return Type::SessionRow;
    else if constexpr (std::is_same_v<T, FileRow>) return Type::FileRow;
    else if constexpr (std::is_same_v<T, RowGone>) return Type::RowGone;
    else if constexpr (std::is_same_v<T, Health>) return Type::Health;
    else if constexpr (std::is_same_v<T, WatchSettings>) return Type::WatchSettings;
    else if constexpr (std::is_same_v<T, EventMessage>) return Type::Event;
    else if constexpr (std::is_same_v<T, Heartbeat>) return Type::Heartbeat;
    else if constexpr (std::is_same_v<T, Command>) return Type::Command;
    else return Type::CommandResult;
}

class Writer {
public:
    void U8(std::uint8_t v) { out_ += static_cast<char>(v); }
    void Bool(bool v) { U8(v ? 1 : 0); }
    void U16(std::uint16_t v) { Le(v, 2); }
    void U32(std::uint32_t v) { Le(v, 4); }
    void U64(std::uint64_t v) { Le(v, 8); }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Text(const std::string& v) {
        const std::string cut = v.size() > kMaxTextBytes ? CutUtf8(v, kMaxTextBytes) : v;
        U32(static_cast<std::uint32_t>(cut.size()));
        out_ += cut;
    }
    bool Ids(const std::vector<std::uint32_t>& ids) {
        if (ids.size() > kMaxFileIds) return false;
        U32(static_cast<std::uint32_t>(ids.size()));
        for (std::uint32_t id : ids) U32(id);
        return true;
    }
    bool Pairs(const WatchSettings& settings) {
        if (settings.Values.size() > kMaxSettings) return false;
        U32(static_cast<std::uint32_t>(settings.Values.size()));
        for (const auto& [key, value] : settings.Values) {
            Text(key);
            Text(value);
        }
        return true;
    }
    std::string& Bytes() { return out_; }

private:
    void Le(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    std::string out_;
};

// Reads fields off a payload; the first field that does not fit fails it
// and every later read gives zeros.
class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
    bool Bool() {
        const std::uint8_t v = U8();
        if (v > 1) ok_ = false;
        return v == 1;
    }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
    std::uint64_t U64() { return Le(8); }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    std::string Text() {
        const std::uint32_t size = U32();
        if (!ok_ || size > kMaxTextBytes || size > in_.size() - at_) {
            ok_ = false;
            return {};
        }
        std::string v(in_.substr(at_, size));
        at_ += size;
        return v;
    }
    std::vector<std::uint32_t> Ids() {
        const std::uint32_t count = U32();
        if (!ok_ || count > kMaxFileIds || count > (in_.size() - at_) / 4) {
            ok_ = false;
            return {};
        }
        std::vector<std::uint32_t> ids(count);
        for (auto& id : ids) id = U32();
        return ids;
    }
    WatchSettings Pairs() {
        WatchSettings settings;
        const std::uint32_t count = U32();
        if (!ok_ || count > kMaxSettings) {
            ok_ = false;
            return settings;
        }
        for (std::uint32_t i = 0; i < count && ok_; ++i) {
            std::string key = Text();
            std::string value = Text();
            settings.Values.emplace_back(std::move(key), std::move(value));
        }
        return settings;
    }
    template <class E>
    E Enum(std::uint8_t first, std::uint8_t last) {
        const std::uint8_t v = U8();
        if (v < first || v > last) ok_ = false;
        return static_cast<E>(v);
    }
    bool Whole() const noexcept { return ok_ && at_ == in_.size(); }

private:
    std::uint64_t Le(std::size_t bytes) {
        if (!ok_ || in_.size() - at_ < bytes) {
            ok_ = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            v |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(in_[at_ + i])) << (8 * i);
        at_ += bytes;
        return v;
    }
    std::string_view in_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

void Put(Writer& w, const LocalTime& t) {
    w.I32(t.year);
    w.I32(t.month);
    w.I32(t.day);
    w.I32(t.hour);
    w.I32(t.minute);
    w.I32(t.second);
    w.I32(t.utcOffsetMinutes);
}

LocalTime GetTime(Reader& r) {
    LocalTime t;
    t.year = r.I32();
    t.month = r.I32();
    t.day = r.I32();
    t.hour = r.I32();
    t.minute = r.I32();
    t.second = r.I32();
    t.utcOffsetMinutes = r.I32();
    return t;
}

bool Put(Writer& w, const Hello& m) {
    w.U16(m.Version);
    w.U8(static_cast<std::uint8_t>(m.Granted));
    w.Bool(m.CanCloseFiles);
    w.Text(m.Reason);
    return true;
}
bool Put(Writer&, const SnapshotBegin&) { return true; }
bool Put(Writer&, const SnapshotEnd&) { return true; }
bool Put(Writer&, const Heartbeat&) { return true; }
bool Put(Writer& w, const SessionRow& m) {
    w.U64(m.Id);
    w.Text(m.ComputerName);
    w.Text(m.IpAddress);
    w.Text(m.UserName);
    w.U32(m.OpenCount);
    w.U32(m.ConnectedSeconds);
    w.U32(m.IdleSeconds);
    return true;
}
bool Put(Writer& w, const FileRow& m) {
    w.U64(m.Id);
    w.Text(m.PathName);
    w.Text(m.UserName);
    w.U32(m.Permissions);
    w.U32(m.LockCount);
    return w.Ids(m.FileIds);
}
bool Put(Writer& w, const RowGone& m) {
    w.Bool(m.File);
    w.U64(m.Id);
    return true;
}
bool Put(Writer& w, const Health& m) {
    w.U32(m.SessionStatus);
    w.U32(m.FileStatus);
    w.Bool(m.FilesWatched);
    w.U32(m.Log.Code);
    w.Text(m.Log.Error);
    w.U64(m.Log.Held);
    w.U64(m.Log.Dropped);
    return true;
}
bool Put(Writer& w, const WatchSettings& m) { return w.Pairs(m); }
bool Put(Writer& w, const EventMessage& m) {
    const WatchEvent& e = m.Event;
    w.U8(static_cast<std::uint8_t>(e.Kind));
    Put(w, e.Time);
    w.Text(e.ComputerName);
    w.Text(e.IpAddress);
    w.Text(e.UserName);
    w.Text(e.PathName);
    w.Text(e.Detail);
    w.U64(e.Count);
    return true;
}
bool Put(Writer& w, const Command& m) {
    w.U32(m.Id);
    w.U8(static_cast<std::uint8_t>(m.Kind));
    w.Text(m.ComputerName);
    w.Text(m.UserName);
    w.Text(m.PathName);
    w.Text(m.Text);
    return w.Ids(m.FileIds) && w.Pairs(m.Settings);
}
bool Put(Writer& w, const CommandResult& m) {
    w.U32(m.Id);
    w.U8(static_cast<std::uint8_t>(m.Outcome));
    w.U32(m.Status);
    w.U32(m.Count);
    w.Text(m.Text);
    return true;
}

std::optional<Message> Get(Reader& r, Type type) {
    switch (type) {
    case Type::Hello: {
        Hello m;
        m.Version = r.U16();
        m.Granted = r.Enum<Access>(0, 2);
        m.CanCloseFiles = r.Bool();
        m.Reason = r.Text();
        return m;
    }
    case Type::SnapshotBegin: return SnapshotBegin{};
    case Type::SnapshotEnd: return SnapshotEnd{};
    case Type::Heartbeat: return Heartbeat{};
    case Type::SessionRow: {
        SessionRow m;
        m.Id = r.U64();
        m.ComputerName = r.Text();
        m.IpAddress = r.Text();
        m.UserName = r.Text();
        m.OpenCount = r.U32();
        m.ConnectedSeconds = r.U32();
        m.IdleSeconds = r.U32();
        return m;
    }
    case Type::FileRow: {
        FileRow m;
        m.Id = r.U64();
        m.PathName = r.Text();
        m.UserName = r.Text();
        m.Permissions = r.U32();
        m.LockCount = r.U32();
        m.FileIds = r.Ids();
        return m;
    }
    case Type::RowGone: {
        RowGone m;
        m.File = r.Bool();
        m.Id = r.U64();
        return m;
    }
    case Type::Health: {
        Health m;
        m.SessionStatus = r.U32();
        m.FileStatus = r.U32();
        m.FilesWatched = r.Bool();
        m.Log.Code = r.U32();
        m.Log.Error = r.Text();
        m.Log.Held = static_cast<std::size_t>(r.U64());
        m.Log.Dropped = r.U64();
        return m;
    }
    case Type::WatchSettings: return r.Pairs();
    case Type::Event: {
        EventMessage m;
        WatchEvent& e = m.Event;
        e.Kind = r.Enum<EventKind>(static_cast<std::uint8_t>(EventKind::Connected),
                                   static_cast<std::uint8_t>(EventKind::FileCloseFailed));
        e.Time = GetTime(r);
        e.ComputerName = r.Text();
        e.IpAddress = r.Text();
        e.UserName = r.Text();
        e.PathName = r.Text();
        e.Detail = r.Text();
        e.Count = r.U64();
        return m;
    }
    case Type::Command: {
        Command m;
        m.Id = r.U32();
        m.Kind = r.Enum<CommandKind>(1, 4);
        m.ComputerName = r.Text();
        m.UserName = r.Text();
        m.PathName = r.Text();
        m.Text = r.Text();
        m.FileIds = r.Ids();
        m.Settings = r.Pairs();
        return m;
    }
    case Type::CommandResult: {
        CommandResult m;
        m.Id = r.U32();
        m.Outcome = r.Enum<CommandOutcome>(0, 4);
        m.Status = r.U32();
        m.Count = r.U32();
        m.Text = r.Text();
        return m;
    }
    }
    return std::nullopt;
}

}  // namespace

std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    // Back to the first byte of the sequence the cut falls in.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

std::optional<std::string> EncodeFrame(const Message& message) {
    Writer w;
    w.U32(0);  // the length, filled in below
    w.U16(kProtocolVersion);
    const bool ok = std::visit(
        [&](const auto& m) {
            w.U8(static_cast<std::uint8_t>(TypeOf<std::decay_t<decltype(m)>>()));
            return Put(w, m);
        },
        message);
    std::string& bytes = w.Bytes();
    const std::size_t payload = bytes.size() - kFrameHeaderBytes;
    if (!ok || payload > kMaxPayloadBytes) return std::nullopt;
    for (std::size_t i = 0; i < kFrameHeaderBytes; ++i) bytes[i] = static_cast<char>((payload >> (8 * i)) & 0xFF);
    return std::move(bytes);
}

std::optional<Message> DecodePayload(std::string_view payload, DecodeError& error) {
    error = DecodeError::None;
    if (payload.size() > kMaxPayloadBytes) {
        error = DecodeError::Oversized;
        return std::nullopt;
    }
    Reader r(payload);
    const std::uint16_t version = r.U16();
    const std::uint8_t type = r.U8();
    if (payload.size() >= 2 && version != kProtocolVersion) {
        error = DecodeError::Version;
        return std::nullopt;
    }
    if (type < static_cast<std::uint8_t>(Type::Hello) || type > static_cast<std::uint8_t>(Type::CommandResult)) {
        error = DecodeError::Malformed;
        return std::nullopt;
    }
    std::optional<Message> message = Get(r, static_cast<Type>(type));
    if (!message || !r.Whole()) {
        error = DecodeError::Malformed;
        return std::nullopt;
    }
    return message;
}

void FrameReader::Append(std::string_view bytes) {
    if (error_ != DecodeError::None) return;
    // What was read already goes before new bytes come in.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<Message> FrameReader::Next() {
    if (error_ != DecodeError::None) return std::nullopt;
    const std::string_view pending(buffer_.data() + start_, buffer_.size() - start_);
    if (pending.size() < kFrameHeaderBytes) return std::nullopt;
    std::size_t size = 0;
    for (std::size_t i = 0; i < kFrameHeaderBytes; ++i)
        size |= static_cast<std::size_t>(static_cast<std::uint8_t>(pending[i])) << (8 * i);
    if (size > kMaxPayloadBytes) {
        error_ = DecodeError::Oversized;
        return std::nullopt;
    }
    if (pending.size() - kFrameHeaderBytes < size) return std::nullopt;
    DecodeError error = DecodeError::None;
    std::optional<Message> message = DecodePayload(pending.substr(kFrameHeaderBytes, size), error);
    if (!message) {
        error_ = error;
        return std::nullopt;
    }
    start_ += kFrameHeaderBytes + size;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return message;
}

}  // namespace corvane::feed
