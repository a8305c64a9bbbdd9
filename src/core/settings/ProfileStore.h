#pragma once
// The settings file as the settings code sees it: named values in sections.
// Text is UTF-8 here; the file's own code page is the store's business.
#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

// Longest string value handed back by ReadString, in characters.
inline constexpr std::size_t kMaxProfileStringLength = 2047;

class IProfileStore {
public:
    virtual ~IProfileStore() = default;
    // The file's path, as shown in error messages.
    virtual std::string Path() const = 0;
    // The value of the key, at most kMaxProfileStringLength characters; empty
    // when the file, the section or the key is missing.
    virtual std::string ReadString(const std::string& section, const std::string& key) = 0;
    // 0 when the value was written, else the system's error code.
    virtual std::uint32_t WriteString(const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    // Fills `buffer` only when the stored value is a valid record of exactly
    // `size` bytes; otherwise returns false and leaves `buffer` alone.
    virtual bool ReadStruct(const std::string& section, const std::string& key, void* buffer,
                            std::size_t size) = 0;
    virtual std::uint32_t WriteStruct(const std::string& section, const std::string& key,
                             const void* data, std::size_t size) = 0;
};

}  // namespace corvane
