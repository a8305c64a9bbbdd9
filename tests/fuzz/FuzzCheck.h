#pragma once
// Shared by the fuzz targets. A failed check prints what did not hold and
// aborts: libFuzzer reports that as a crash and saves the input.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "core/text/Text.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace corvane::fuzz {

// UTF-8 that the conversions pass through unchanged.
inline bool WellFormedUtf8(std::string_view s) {
    return text::Utf16ToUtf8(text::Utf8ToUtf16(s)) == s;
}

// Text that code page 932 holds exactly.
inline bool InCp932(std::string_view s) {
    return text::Cp932ToUtf8(text::Utf8ToCp932(s)) == s;
}

// A file of this fuzzing process for one input, in memory when /dev/shm is
// there; gone when the input is done.
class ScratchFile {
public:
    explicit ScratchFile(const char* name) {
        std::error_code error;
        const std::filesystem::path dir =
            std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : std::filesystem::temp_directory_path();
        path_ = dir / ("corvane-fuzz-" + std::to_string(::getpid()) + "-" + name);
    }
    ~ScratchFile() { Remove(); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    std::string Path() const { return path_.string(); }
    void Remove() {
        std::error_code error;
        std::filesystem::remove(path_, error);
    }
    void Put(std::string_view bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        FUZZ_CHECK(out.good());
    }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path path_;
};

}  // namespace corvane::fuzz
