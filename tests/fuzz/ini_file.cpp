// The INI codec over whole files: the input is a section, a key and a value
// followed by the file's bytes. Reads stay within the profile functions'
// bounds, a write touches only its own line (or adds the key, or the section
// and the key), and a value written with a plain name reads back as written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "core/settings/IniFile.h"

namespace {

using namespace corvane;

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        auto end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool Trimmed(std::string_view s) {
    return s.empty() || (s.front() != ' ' && s.front() != '\t' && s.back() != ' ' && s.back() != '\t');
}

bool OneLine(std::string_view s) { return s.find('\n') == std::string_view::npos; }

// Names and values the codec stores exactly: one line, code page 932, no
// blanks at the ends; keys neither open a section nor hold '='; values not
// quoted and within the read limit.
bool Plain(const std::string& section, const std::string& key, const std::string& value) {
    for (const auto* s : {&section, &key, &value}) {
        if (!OneLine(*s) || !Trimmed(*s) || !fuzz::InCp932(*s)) return false;
    }
    if (key.find('=') != std::string::npos || (!key.empty() && key.front() == '[')) return false;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return false;
    return text::Utf8ToUtf16(value).size() <= kMaxProfileStringLength;
}

std::string SwapCase(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ScratchFile file("ini_file.ini");
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string value = input.ConsumeRandomLengthString(4096);
    const std::string original = input.ConsumeRemainingBytesAsString();
    file.Put(original);
    IniFile ini(file.Path());

    const std::string read = ini.ReadString(section, key);
    FUZZ_CHECK(fuzz::WellFormedUtf8(read));
    FUZZ_CHECK(text::Utf8ToUtf16(read).size() <= kMaxProfileStringLength);
    FUZZ_CHECK(ini.ReadString(SwapCase(section), SwapCase(key)) == read);

    if (!OneLine(section) || !OneLine(key) || !OneLine(value)) return 0;
    FUZZ_CHECK(ini.WriteString(section, key, value) == 0);
    const std::string written = file.Get();
    const auto before = Lines(original);
    const auto after = Lines(written);
    FUZZ_CHECK(written.size() >= 2 && written.compare(written.size() - 2, 2, "\r\n") == 0);
    FUZZ_CHECK(after.size() >= before.size() && after.size() <= before.size() + 2);
    std::size_t same = 0;
    while (same < before.size() && before[same] == after[same]) ++same;
    std::size_t tail = 0;
    while (tail < before.size() - same && before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) ++tail;
    FUZZ_CHECK(before.size() - same - tail <= 1);  // at most the key's own line replaced
    FUZZ_CHECK(after.size() - same - tail <= 2);

    if (!Plain(section, key, value)) return 0;
    FUZZ_CHECK(ini.ReadString(section, key) == value);
    FUZZ_CHECK(ini.WriteString(SwapCase(section), SwapCase(key), value) == 0);
    FUZZ_CHECK(file.Get() == written);  // the stored spelling of the names stays
    return 0;
}
