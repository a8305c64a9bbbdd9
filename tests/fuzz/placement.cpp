// The window placement as the settings file keeps it: eleven 32-bit fields,
// 44 bytes, written as hexadecimal digits and a checksum. Both directions:
// a text that decodes is the canonical text of its record, and any record
// survives the text form unchanged.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/settings/IniFile.h"
#include "core/settings/SettingsWindow.h"

namespace {

using namespace corvane;

std::string PlacementText(const WindowPlacementRecord& record) {
    const auto bytes = EncodePlacement(record);
    return EncodeProfileStruct(bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input as a stored text.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    PlacementBytes bytes;
    bytes.fill(0xA5);
    const PlacementBytes before = bytes;
    if (DecodeProfileStruct(text, bytes.data(), bytes.size())) {
        std::string upper(text);
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        const auto record = DecodePlacement(bytes);
        FUZZ_CHECK(EncodePlacement(record) == bytes);
        FUZZ_CHECK(PlacementText(record) == upper);
    } else {
        FUZZ_CHECK(bytes == before);
    }

    // The input as a record.
    PlacementBytes raw{};
    std::memcpy(raw.data(), data, std::min(size, raw.size()));
    const auto record = DecodePlacement(raw);
    FUZZ_CHECK(EncodePlacement(record) == raw);
    const std::string stored = PlacementText(record);
    FUZZ_CHECK(stored.size() == 2 * kPlacementRecordSize + 2);
    FUZZ_CHECK(stored.find_first_not_of("0123456789ABCDEF") == std::string::npos);
    PlacementBytes back{};
    FUZZ_CHECK(DecodeProfileStruct(stored, back.data(), back.size()));
    FUZZ_CHECK(DecodePlacement(back) == record);
    return 0;
}
