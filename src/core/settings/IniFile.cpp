#include "core/settings/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <optional>
#include <vector>

#include "core/text/Text.h"

namespace corvane {
namespace {

constexpr const char* kHexDigits = "0123456789ABCDEF";

std::uint32_t FailureCode() { return errno != 0 ? static_cast<std::uint32_t>(errno) : EIO; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// Names are compared like the profile functions compare them: without regard
// to case. Only ASCII letters fold; in UTF-8 every other byte is >= 0x80.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// One line of the file, kept as its code page 932 bytes so that lines the
// program does not change are written back exactly as they were.
struct Line {
    enum class Kind { Other, Section, Entry };
    std::string raw;
    Kind kind = Kind::Other;
    std::string name;   // section or key name, UTF-8
    std::string value;  // entry value as stored (trimmed), UTF-8
};

Line ParseLine(std::string raw) {
    Line line;
    const std::string utf8 = text::Cp932ToUtf8(raw);
    line.raw = std::move(raw);
    const std::string_view t = Trim(utf8);
    if (!t.empty() && t.front() == '[') {
        line.kind = Line::Kind::Section;
        auto inner = t.substr(1);
        const auto close = inner.rfind(']');
        if (close != std::string_view::npos) inner = inner.substr(0, close);
        line.name = std::string(Trim(inner));
    } else if (const auto eq = t.find('='); eq != std::string_view::npos) {
        line.kind = Line::Kind::Entry;
        line.name = std::string(Trim(t.substr(0, eq)));
        line.value = std::string(Trim(t.substr(eq + 1)));
    }
    return line;
}

class Document {
public:
    static std::optional<Document> Load(const std::string& path) {
        Document doc;
        std::error_code error;
        const auto fsPath = FsPath(path);
        if (!std::filesystem::exists(fsPath, error)) return doc;  // a missing file reads as empty
        std::ifstream in(fsPath, std::ios::binary);
        if (!in) return std::nullopt;
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) return std::nullopt;
        std::size_t start = 0;
        while (start < bytes.size()) {
            auto end = bytes.find('\n', start);
            if (end == std::string::npos) end = bytes.size();
            std::string raw = bytes.substr(start, end - start);
            if (!raw.empty() && raw.back() == '\r') raw.pop_back();
            doc.lines_.push_back(ParseLine(std::move(raw)));
            start = end + 1;
        }
        return doc;
    }

    // 0, or the error code of the failed write.
    std::uint32_t Save(const std::string& path) const {
        std::string bytes;
        for (const auto& line : lines_) {
            bytes += line.raw;
            bytes += "\r\n";
        }
        errno = 0;
        std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
        }
        return out.fail() ? FailureCode() : 0;
    }

    // Index of the first line of the first section of that name, or npos.
    std::size_t FindSection(std::string_view section) const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].kind == Line::Kind::Section && SameName(lines_[i].name, section)) return i;
        }
        return npos;
    }

    // One past the section's last line.
    std::size_t SectionEnd(std::size_t header) const {
        std::size_t i = header + 1;
        while (i < lines_.size() && lines_[i].kind != Line::Kind::Section) ++i;
        return i;
    }

    std::size_t FindKey(std::size_t header, std::string_view key) const {
        if (header == npos) return npos;
        for (std::size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
            if (lines_[i].kind == Line::Kind::Entry && SameName(lines_[i].name, key)) return i;
        }
        return npos;
    }

    const Line& At(std::size_t i) const { return lines_[i]; }

    void Set(const std::string& section, const std::string& key, const std::string& value) {
        const auto header = FindSection(section);
        if (header == npos) {
            lines_.push_back(ParseLine(text::Utf8ToCp932("[" + section + "]")));
            lines_.push_back(ParseLine(text::Utf8ToCp932(key + "=" + value)));
            return;
        }
        if (const auto at = FindKey(header, key); at != npos) {
            // The stored spelling of the key stays.
            lines_[at] = ParseLine(text::Utf8ToCp932(lines_[at].name + "=" + value));
            return;
        }
        // After the section's last non-blank line.
        auto insert = SectionEnd(header);
        while (insert > header + 1 && Trim(lines_[insert - 1].raw).empty()) --insert;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert),
                      ParseLine(text::Utf8ToCp932(key + "=" + value)));
    }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

private:
    std::vector<Line> lines_;
};

std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

std::string CapLength(std::string utf8) {
    if (utf8.size() <= kMaxProfileStringLength) return utf8;  // cannot be longer in characters
    auto wide = text::Utf8ToUtf16(utf8);
    if (wide.size() <= kMaxProfileStringLength) return utf8;
    wide.resize(kMaxProfileStringLength);
    if (wide.back() >= 0xD800 && wide.back() <= 0xDBFF) wide.pop_back();
    return text::Utf16ToUtf8(wide);
}

}  // namespace

std::string EncodeProfileStruct(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::string out;
    out.reserve(size * 2 + 2);
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kHexDigits[bytes[i] >> 4]);
        out.push_back(kHexDigits[bytes[i] & 0x0F]);
        sum += bytes[i];
    }
    out.push_back(kHexDigits[(sum >> 4) & 0x0F]);
    out.push_back(kHexDigits[sum & 0x0F]);
    return out;
}

bool DecodeProfileStruct(std::string_view text, void* buffer, std::size_t size) {
    if (text.size() != size * 2 + 2) return false;
    std::vector<std::uint8_t> bytes(size + 1);
    for (std::size_t i = 0; i <= size; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += bytes[i];
    if ((sum & 0xFF) != bytes[size]) return false;
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size),
              static_cast<std::uint8_t*>(buffer));
    return true;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key) {
    const auto doc = Document::Load(path_);
    if (!doc) return {};
    const auto at = doc->FindKey(doc->FindSection(section), key);
    if (at == Document::npos) return {};
    return CapLength(Unquote(doc->At(at).value));
}

std::uint32_t IniFile::WriteString(const std::string& section, const std::string& key,
                                   const std::string& value) {
    errno = 0;
    auto doc = Document::Load(path_);
    if (!doc) return FailureCode();
    doc->Set(section, key, value);
    return doc->Save(path_);
}

bool IniFile::ReadStruct(const std::string& section, const std::string& key, void* buffer,
                         std::size_t size) {
    const auto doc = Document::Load(path_);
    if (!doc) return false;
    const auto at = doc->FindKey(doc->FindSection(section), key);
    if (at == Document::npos) return false;
    // The record's text is taken as it stands: quotes make it unreadable.
    return DecodeProfileStruct(doc->At(at).value, buffer, size);
}

std::uint32_t IniFile::WriteStruct(const std::string& section, const std::string& key, const void* data,
                                   std::size_t size) {
    return WriteString(section, key, EncodeProfileStruct(data, size));
}

}  // namespace corvane
