// Code page 932 conversions and collation for the host build (iconv).
#include <iconv.h>

#include <cerrno>
#include <stdexcept>

#include "core/text/Collation.h"
#include "core/text/Text.h"

namespace corvane::text {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as possible; an unconvertible or invalid sequence is
    // replaced by `replacement` and skipped by `skipBytes` input bytes.
    std::string Run(std::string_view in, std::string_view replacement, std::size_t skipBytes) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.reserve(in.size() * 2 + 8);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buffer[256];
        while (srcLeft > 0) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (rc == static_cast<std::size_t>(-1)) {
                if (errno == E2BIG) continue;
                out.append(replacement);
                std::size_t skip = skipBytes;
                if (skipBytes == 0) {  // one UTF-8 character
                    const auto b = static_cast<unsigned char>(*src);
                    skip = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
                }
                if (skip > srcLeft) skip = srcLeft;
                src += skip;
                srcLeft -= skip;
            }
        }
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::string Utf8ToCp932(std::string_view utf8) {
    // Normalise first so malformed UTF-8 becomes U+FFFD, which CP932 lacks.
    const std::string clean = Utf16ToUtf8(Utf8ToUtf16(utf8));
    thread_local Converter conv("CP932", "UTF-8");
    return conv.Run(clean, "?", 0);
}

std::string Cp932ToUtf8(std::string_view cp932) {
    thread_local Converter conv("UTF-8", "CP932");
    return conv.Run(cp932, "?", 1);
}

const ICollation& PlatformCollation() {
    static const SimpleCollation collation;
    return collation;
}

}  // namespace corvane::text
