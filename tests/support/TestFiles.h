#pragma once
// Files and folders for tests that touch the disk.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace corvane::test {

namespace fs = std::filesystem;

inline std::string Utf8(const fs::path& path) {
    const auto u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A fresh folder under the temporary directory, removed with its contents.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix)
        : path_(fs::temp_directory_path() /
                (prefix + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const noexcept { return path_; }

private:
    fs::path path_;
};

}  // namespace corvane::test
