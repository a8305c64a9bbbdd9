#pragma once
// The byte form of the feed's messages (see FeedMessages.h for the frame).
// Encoding refuses what it could not send whole; decoding takes a payload
// only when every byte of it is one well-formed message, so a message that
// decodes encodes to the same bytes again.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/feed/FeedMessages.h"

namespace corvane::feed {

inline constexpr std::size_t kFrameHeaderBytes = 4;

// The frame of `message` (length and payload). Texts longer than
// kMaxTextBytes are cut at a character's start; nullopt when the payload
// would still be over kMaxPayloadBytes or a list over its bound.
std::optional<std::string> EncodeFrame(const Message& message);

enum class DecodeError {
    None,
    Oversized,   // the frame announces more than kMaxPayloadBytes
    Version,     // another protocol version
    Malformed,   // an unknown type, a field out of range or cut short, bytes left over
};

// One payload (without its length) into a message.
std::optional<Message> DecodePayload(std::string_view payload, DecodeError& error);

// Cuts a byte stream into frames. Feed it what arrives, in any pieces; Next
// gives the messages in order. After an error the reader stays failed: the
// connection is to be ended.
class FrameReader {
public:
    void Append(std::string_view bytes);
    // The next whole message; nullopt when more bytes are needed or on error.
    std::optional<Message> Next();
    DecodeError Error() const noexcept { return error_; }
    // Bytes received and not yet taken as messages.
    std::size_t Pending() const noexcept { return buffer_.size() - start_; }

private:
    std::string buffer_;
    std::size_t start_ = 0;
    DecodeError error_ = DecodeError::None;
};

// A text cut to at most `maxBytes` without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace corvane::feed
