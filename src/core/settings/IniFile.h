#pragma once
// A settings file in code page 932 read and written without the platform's
// profile functions, with the same value forms: case-insensitive sections and
// keys, values trimmed and unquoted on reading, new sections and keys added at
// the end, every call going to the file at once. A refused write gives errno
// as its code (EIO when the library left none).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/settings/ProfileStore.h"

namespace corvane {

// The text form of a binary record: two uppercase hexadecimal digits per byte,
// then the sum of the bytes modulo 256 as two more digits.
std::string EncodeProfileStruct(const void* data, std::size_t size);
// False (and `buffer` untouched) for a text of the wrong length, with a
// character that is not a hexadecimal digit, or with a wrong checksum.
bool DecodeProfileStruct(std::string_view text, void* buffer, std::size_t size);

class IniFile : public IProfileStore {
public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    std::string Path() const override { return path_; }
    std::string ReadString(const std::string& section, const std::string& key) override;
    std::uint32_t WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    bool ReadStruct(const std::string& section, const std::string& key, void* buffer,
                    std::size_t size) override;
    std::uint32_t WriteStruct(const std::string& section, const std::string& key, const void* data,
                     std::size_t size) override;

private:
    std::string path_;  // UTF-8
};

}  // namespace corvane
