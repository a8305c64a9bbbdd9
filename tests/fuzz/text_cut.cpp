// CutToCp932Bytes: the longest prefix whose code page 932 form fits in the
// limit, cut between characters and handed back as UTF-8 without loss.
#include <cstddef>
#include <cstdint>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    FuzzedDataProvider input(data, size);
    const auto maxBytes = input.ConsumeIntegralInRange<std::size_t>(0, 300);  // taken from the end
    const std::string utf8 = input.ConsumeRemainingBytesAsString();

    const std::string whole = text::Utf8ToCp932(utf8);
    const std::string cut = text::CutToCp932Bytes(utf8, maxBytes);
    FUZZ_CHECK(text::Cp932Length(utf8) == whole.size());
    if (whole.size() <= maxBytes) {
        FUZZ_CHECK(cut == utf8);
        return 0;
    }
    const std::string cutCp932 = text::Utf8ToCp932(cut);
    FUZZ_CHECK(cutCp932.size() <= maxBytes);
    FUZZ_CHECK(cutCp932.size() + 1 >= maxBytes);  // no character is wider than two bytes
    FUZZ_CHECK(whole.compare(0, cutCp932.size(), cutCp932) == 0);
    FUZZ_CHECK(text::Cp932ToUtf8(cutCp932) == cut);
    FUZZ_CHECK(fuzz::WellFormedUtf8(cut));
    // A split double-byte character would leave a '?' where the whole text
    // has the character.
    FUZZ_CHECK(text::Cp932ToUtf8(whole).compare(0, cut.size(), cut) == 0);
    if (fuzz::InCp932(utf8)) FUZZ_CHECK(utf8.compare(0, cut.size(), cut) == 0);
    return 0;
}
