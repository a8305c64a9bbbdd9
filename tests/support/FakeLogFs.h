#pragma once
// An in-memory file system for the event log tests: files, handles held by
// "other programs", and injected failures of single steps.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/events/EventLog.h"

namespace corvane::test {

inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

class FakeLogFs : public ILogFileSystem {
public:
    std::map<std::string, std::string> files;
    // Paths another program holds open without letting them be deleted or moved.
    std::map<std::string, bool> heldByOthers;
    // Step name ("open", "create", "append", "size", "read", "write",
    // "truncate", "flush", "close", "delete", "move")
    // to the error code it fails with, every time.
    std::map<std::string, std::uint32_t> failures;
    int openHandles = 0;
    int appends = 0;  // successful OpenForAppend calls
    // Bytes the disk still takes: a write past them puts in what fits and
    // fails with kErrorDiskFull. A file cut back gives its bytes back.
    std::uint64_t space = UINT64_MAX;

    bool Exists(const std::string& path) override { return files.count(path) != 0; }

    std::uint32_t OpenForRead(const std::string& path, std::unique_ptr<ILogFile>& file) override {
        if (auto code = Failure("open")) return code;
        if (!Exists(path)) return kErrorFileNotFound;
        file = std::make_unique<File>(*this, path);
        return 0;
    }
    std::uint32_t Create(const std::string& path, std::unique_ptr<ILogFile>& file) override {
        if (auto code = Failure("create")) return code;
        if (Held(path)) return kErrorSharingViolation;
        files[path].clear();
        file = std::make_unique<File>(*this, path);
        return 0;
    }
    std::uint32_t CreateNew(const std::string& path, std::unique_ptr<ILogFile>& file) override {
        if (Exists(path)) return kErrorAlreadyExists;
        return Create(path, file);
    }
    std::uint32_t OpenForAppend(const std::string& path, std::unique_ptr<ILogFile>& file) override {
        if (auto code = Failure("append")) return code;
        ++appends;
        files[path];
        file = std::make_unique<File>(*this, path);
        return 0;
    }
    std::uint32_t Delete(const std::string& path) override {
        if (auto code = Failure("delete")) return code;
        if (!Exists(path)) return kErrorFileNotFound;
        if (Held(path)) return kErrorSharingViolation;
        files.erase(path);
        return 0;
    }
    std::uint32_t Move(const std::string& from, const std::string& to) override {
        if (auto code = Failure("move")) return code;
        if (!Exists(from)) return kErrorFileNotFound;
        if (Exists(to)) return kErrorAlreadyExists;
        if (Held(from)) return kErrorSharingViolation;
        files[to] = std::move(files[from]);
        files.erase(from);
        return 0;
    }

private:
    class File : public ILogFile {
    public:
        File(FakeLogFs& fs, std::string path) : fs_(fs), path_(std::move(path)) { ++fs_.openHandles; }
        ~File() override {
            if (open_) --fs_.openHandles;
        }
        std::uint32_t Size(std::uint64_t& size) override {
            if (auto code = fs_.Failure("size")) return code;
            size = fs_.files[path_].size();
            return 0;
        }
        std::uint32_t Write(const void* data, std::size_t size) override {
            if (auto code = fs_.Failure("write")) return code;
            const std::size_t fits = size < fs_.space ? size : static_cast<std::size_t>(fs_.space);
            fs_.files[path_].append(static_cast<const char*>(data), fits);
            if (fs_.space != UINT64_MAX) fs_.space -= fits;
            return fits == size ? 0 : kErrorDiskFull;
        }
        std::uint32_t ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& read) override {
            if (auto code = fs_.Failure("read")) return code;
            const std::string& bytes = fs_.files[path_];
            read = offset < bytes.size() ? bytes.copy(static_cast<char*>(data), size, offset) : 0;
            return 0;
        }
        std::uint32_t Truncate(std::uint64_t size) override {
            if (auto code = fs_.Failure("truncate")) return code;
            std::string& bytes = fs_.files[path_];
            if (size < bytes.size()) {
                if (fs_.space != UINT64_MAX) fs_.space += bytes.size() - size;
                bytes.resize(static_cast<std::size_t>(size));
            }
            return 0;
        }
        std::uint32_t Flush() override { return fs_.Failure("flush"); }
        std::uint32_t Close() override {
            if (open_) --fs_.openHandles;
            open_ = false;
            return fs_.Failure("close");
        }

    private:
        FakeLogFs& fs_;
        std::string path_;
        bool open_ = true;
    };

    std::uint32_t Failure(const std::string& step) const {
        const auto it = failures.find(step);
        return it == failures.end() ? 0 : it->second;
    }
    bool Held(const std::string& path) const {
        const auto it = heldByOthers.find(path);
        return it != heldByOthers.end() && it->second;
    }
};

}  // namespace corvane::test
