// The feed's frames as a hostile pipe client or server could send them. The
// reader takes any bytes in any pieces without fault; every message it gives
// is exactly the frame it came from when encoded again (one byte form per
// message), and cutting the stream in two pieces changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "core/feed/FeedCodec.h"

namespace {

using namespace corvane::feed;

struct Outcome {
    std::vector<std::string> frames;
    DecodeError error = DecodeError::None;
    std::size_t pending = 0;
};

Outcome ReadAll(std::string_view stream, std::size_t cut) {
    Outcome out;
    FrameReader reader;
    std::size_t at = 0;
    for (const std::string_view piece : {stream.substr(0, cut), stream.substr(cut)}) {
        reader.Append(piece);
        while (const auto message = reader.Next()) {
            const auto frame = EncodeFrame(*message);
            FUZZ_CHECK(frame.has_value());
            FUZZ_CHECK(frame->size() <= kFrameHeaderBytes + kMaxPayloadBytes);
            FUZZ_CHECK(stream.substr(at, frame->size()) == *frame);
            at += frame->size();
            out.frames.push_back(*frame);
        }
    }
    out.error = reader.Error();
    out.pending = reader.Pending();
    if (out.error == DecodeError::None) FUZZ_CHECK(at + out.pending == stream.size());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view stream(reinterpret_cast<const char*>(data), size);
    const Outcome whole = ReadAll(stream, stream.size());
    const Outcome split = ReadAll(stream, size == 0 ? 0 : data[0] % (size + 1));
    FUZZ_CHECK(whole.frames == split.frames);
    FUZZ_CHECK(whole.error == split.error);
    if (whole.error == DecodeError::None) FUZZ_CHECK(whole.pending == split.pending);
    return 0;
}
