#pragma once
// The settings file through the system's profile functions.
#include <string>

#include "core/settings/ProfileStore.h"

namespace corvane::win {

// The W forms are used: on a file in the ANSI code page they read and write
// that code page (932 on the target systems), so the file stays Shift-JIS.
class ProfileStoreWin : public IProfileStore {
public:
    explicit ProfileStoreWin(std::string path) : path_(std::move(path)) {}

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

}  // namespace corvane::win
