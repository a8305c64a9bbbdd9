// The conversions between UTF-8, UTF-16 and code page 932. The input is read
// three ways: as UTF-8 (checked against iconv's strict decoder), as UTF-16
// code units and as code page 932 bytes.
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"

namespace {

using namespace corvane;

// UTF-16 of well-formed UTF-8, nullopt for anything malformed.
std::optional<std::u16string> StrictUtf8ToUtf16(std::string_view in) {
    static const iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    FUZZ_CHECK(cd != reinterpret_cast<iconv_t>(-1));
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(in.size() * 2, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - dstLeft);
    std::u16string units(out.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(out[2 * i]) |
                                         static_cast<unsigned char>(out[2 * i + 1]) << 8);
    }
    return units;
}

bool High(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool Low(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool NoLoneSurrogate(std::u16string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (High(s[i]) && i + 1 < s.size() && Low(s[i + 1])) {
            ++i;
        } else if (High(s[i]) || Low(s[i])) {
            return false;
        }
    }
    return true;
}

void AsUtf8(std::string_view in) {
    const std::u16string wide = text::Utf8ToUtf16(in);
    FUZZ_CHECK(NoLoneSurrogate(wide));
    const std::string back = text::Utf16ToUtf8(wide);
    FUZZ_CHECK(fuzz::WellFormedUtf8(back));
    if (const auto strict = StrictUtf8ToUtf16(in)) {
        FUZZ_CHECK(wide == *strict);
        FUZZ_CHECK(back == in);
    } else {
        FUZZ_CHECK(back != in);
        FUZZ_CHECK(wide.find(u'\uFFFD') != std::u16string::npos);
    }

    // The code page 932 form is what the encoder writes for its own decoding.
    const std::string sjis = text::Utf8ToCp932(in);
    FUZZ_CHECK(text::Cp932Length(in) == sjis.size());
    FUZZ_CHECK(text::Utf8ToCp932(text::Cp932ToUtf8(sjis)) == sjis);
}

void AsUtf16(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    const std::string utf8 = text::Utf16ToUtf8(units);
    FUZZ_CHECK(fuzz::WellFormedUtf8(utf8));
    // Pairs come back as they were, each lone surrogate as one U+FFFD.
    const std::u16string back = text::Utf8ToUtf16(utf8);
    FUZZ_CHECK(back.size() == units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const bool paired = (High(units[i]) && i + 1 < units.size() && Low(units[i + 1])) ||
                            (Low(units[i]) && i > 0 && High(units[i - 1]));
        if ((High(units[i]) || Low(units[i])) && !paired) {
            FUZZ_CHECK(back[i] == u'\uFFFD');
        } else {
            FUZZ_CHECK(back[i] == units[i]);
        }
    }
}

void AsCp932(std::string_view in) {
    const std::string utf8 = text::Cp932ToUtf8(in);
    FUZZ_CHECK(fuzz::WellFormedUtf8(utf8));
    // Whatever a file in code page 932 held can be written back.
    const std::string sjis = text::Utf8ToCp932(utf8);
    FUZZ_CHECK(text::Cp932ToUtf8(sjis) == utf8);
    bool ascii = true;
    for (const char c : in) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {  // paths keep their backslashes, text its tildes
        FUZZ_CHECK(utf8 == in);
        FUZZ_CHECK(sjis == in);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    AsUtf8(bytes);
    AsUtf16(data, size);
    AsCp932(bytes);
    return 0;
}
