// Single values of the INI codec: the hexadecimal record form, and a string
// written to a fresh file and read back (trimmed, unquoted, capped at the
// profile functions' length).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "core/settings/IniFile.h"

namespace {

using namespace corvane;

void RecordText(FuzzedDataProvider& input) {
    const auto size = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    const std::string text = input.ConsumeRandomLengthString(200);

    std::vector<std::uint8_t> buffer(size, 0x5A);
    if (DecodeProfileStruct(text, buffer.data(), size)) {
        std::string upper = text;
        std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
            return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
        });
        FUZZ_CHECK(EncodeProfileStruct(buffer.data(), size) == upper);
    } else {
        FUZZ_CHECK(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0x5A; }));
    }

    const auto bytes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 64));
    std::string encoded = EncodeProfileStruct(bytes.data(), bytes.size());
    FUZZ_CHECK(encoded.size() == 2 * bytes.size() + 2);
    std::vector<std::uint8_t> back(bytes.size() + 1, 0);
    FUZZ_CHECK(!DecodeProfileStruct(encoded, back.data(), bytes.size() + 1));
    FUZZ_CHECK(DecodeProfileStruct(encoded, back.data(), bytes.size()));
    back.pop_back();
    FUZZ_CHECK(back == bytes);
    // The checksum catches any one digit changed.
    const auto at = input.ConsumeIntegralInRange<std::size_t>(0, encoded.size() - 1);
    const auto step = input.ConsumeIntegralInRange<int>(1, 15);
    const std::string digits = "0123456789ABCDEF";
    encoded[at] = digits[(digits.find(encoded[at]) + static_cast<std::size_t>(step)) % 16];
    FUZZ_CHECK(!DecodeProfileStruct(encoded, back.data(), bytes.size()));
}

void StoredString(const std::string& value) {
    fuzz::ScratchFile file("ini_value.ini");
    if (value.find('\n') != std::string::npos || !fuzz::InCp932(value)) return;
    auto write = [&](const std::string& stored) {
        file.Remove();
        IniFile ini(file.Path());
        FUZZ_CHECK(ini.WriteString("Environment", "SoundFileName", stored) == 0);
        return ini.ReadString("Environment", "SoundFileName");
    };

    // Quotes keep blanks at the ends; the outer pair goes.
    const auto wide = text::Utf8ToUtf16(value);
    if (wide.size() + 2 <= kMaxProfileStringLength) FUZZ_CHECK(write('"' + value + '"') == value);

    std::string trimmed = value;
    trimmed.erase(0, std::min(trimmed.find_first_not_of(" \t"), trimmed.size()));
    trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
    const std::string read = write(" \t" + value + "\t ");
    if (trimmed.size() >= 2 && (trimmed.front() == '"' || trimmed.front() == '\'') &&
        trimmed.back() == trimmed.front()) {
        return;
    }
    // Longer values are cut at the limit, never inside a surrogate pair.
    const auto readWide = text::Utf8ToUtf16(read);
    FUZZ_CHECK(trimmed.compare(0, read.size(), read) == 0);
    const auto trimmedWide = text::Utf8ToUtf16(trimmed);
    if (trimmedWide.size() <= kMaxProfileStringLength) {
        FUZZ_CHECK(read == trimmed);
    } else {
        const bool pairAtLimit = trimmedWide[kMaxProfileStringLength - 1] >= 0xD800 &&
                                 trimmedWide[kMaxProfileStringLength - 1] <= 0xDBFF;
        FUZZ_CHECK(readWide.size() == kMaxProfileStringLength - (pairAtLimit ? 1 : 0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    RecordText(input);
    StoredString(input.ConsumeRemainingBytesAsString());
    return 0;
}
