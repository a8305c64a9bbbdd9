#include "win/events/LogFileSystemWin.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "core/text/Text.h"
#include "win/security/DesktopShell.h"
#include "win/security/FileSecurity.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

std::uint32_t LastError() {
    const DWORD code = GetLastError();
    return code != 0 ? code : ERROR_GEN_FAILURE;  // a failure never reads as success
}

class LogFileWin : public ILogFile {
public:
    explicit LogFileWin(HANDLE handle) noexcept : handle_(handle) {}

    std::uint32_t Size(std::uint64_t& size) override {
        LARGE_INTEGER value{};
        if (!GetFileSizeEx(handle_.get(), &value)) return LastError();
        size = static_cast<std::uint64_t>(value.QuadPart);
        return 0;
    }
    std::uint32_t Write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(handle_.get(), bytes, chunk, &written, nullptr)) return LastError();
            if (written == 0) return ERROR_WRITE_FAULT;
            bytes += written;
            size -= written;
        }
        return 0;
    }
    std::uint32_t ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& read) override {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        if (!ReadFile(handle_.get(), data, want, &got, &at) && GetLastError() != ERROR_HANDLE_EOF)
            return LastError();
        read = got;
        return 0;
    }
    std::uint32_t Truncate(std::uint64_t size) override {
        // A handle that may only append cannot move the end of the file back:
        // a second handle to the same file (not to whatever now has its name)
        // with write access does.
        UniqueFile writer(ReOpenFile(handle_.get(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
        if (!writer) return LastError();
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFileInformationByHandle(writer.get(), FileEndOfFileInfo, &end, sizeof end)) return LastError();
        return CloseHandle(writer.release()) ? 0 : LastError();
    }
    std::uint32_t Flush() override { return FlushFileBuffers(handle_.get()) ? 0 : LastError(); }
    std::uint32_t Close() override {
        // Closing is a checked step of its own, so it is not left to the owner.
        return CloseHandle(handle_.release()) ? 0 : LastError();
    }

private:
    UniqueFile handle_;
};

std::uint32_t Open(const std::string& path, DWORD access, DWORD disposition,
                   std::unique_ptr<LogFileWin>& file) {
    // Others may read and write the log while it is open, but not delete it.
    // A file this makes is for administrators only; one that exists keeps
    // its permissions.
    const HANDLE handle = CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      AdministratorsOnlyFile(), disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    file = std::make_unique<LogFileWin>(handle);
    return 0;
}

}  // namespace

bool LogFileSystemWin::Exists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::uint32_t LogFileSystemWin::OpenForRead(const std::string& path, std::unique_ptr<ILogFile>& file) {
    std::unique_ptr<LogFileWin> opened;
    if (const auto code = Open(path, GENERIC_READ, OPEN_EXISTING, opened)) return code;
    file = std::move(opened);
    return 0;
}

std::uint32_t LogFileSystemWin::Create(const std::string& path, std::unique_ptr<ILogFile>& file) {
    std::unique_ptr<LogFileWin> opened;
    if (const auto code = Open(path, GENERIC_WRITE, CREATE_ALWAYS, opened)) return code;
    file = std::move(opened);
    return 0;
}

std::uint32_t LogFileSystemWin::CreateNew(const std::string& path, std::unique_ptr<ILogFile>& file) {
    std::unique_ptr<LogFileWin> opened;
    if (const auto code = Open(path, GENERIC_WRITE, CREATE_NEW, opened)) return code;
    file = std::move(opened);
    return 0;
}

std::uint32_t LogFileSystemWin::OpenForAppend(const std::string& path, std::unique_ptr<ILogFile>& file) {
    // Append access only: the system puts every write at the end of the file as
    // it is then, so a line never lands on one that another writer (another
    // instance, an editor) appended after this handle was opened.
    std::unique_ptr<LogFileWin> opened;
    // Reading its attributes lets the size be had from the same handle, and
    // reading its data whether it ends with a line break.
    if (const auto code = Open(path, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               OPEN_ALWAYS, opened))
        return code;
    file = std::move(opened);
    return 0;
}

std::uint32_t LogFileSystemWin::Delete(const std::string& path) {
    return DeleteFileW(Wide(path).c_str()) ? 0 : LastError();
}

std::uint32_t LogFileSystemWin::Move(const std::string& from, const std::string& to) {
    const std::wstring target = Wide(to);
    if (!MoveFileW(Wide(from).c_str(), target.c_str())) return LastError();
    // The log moves to its backup with the permissions it had: a log made by
    // an earlier version, readable by every user, becomes an administrators'
    // file here. The move itself is done either way.
    RestrictToAdministrators(target.c_str());
    return 0;
}

LocalTime LocalClockWin::Now() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    TIME_ZONE_INFORMATION zone{};
    const DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;  // UTC = local time + bias
    if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, static_cast<int>(-bias)};
}

int ShellOpenerWin::Open(const std::string& path) {
    const std::wstring file = Wide(path);
    // The desktop's shell would tell a missing file in a box of its own,
    // where this program never learns of it: it is looked for here first.
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return code != 0 && code <= 32 ? static_cast<int>(code) : SE_ERR_FNF;
    }
    return OpenAsDesktopUser(file);
}

}  // namespace corvane::win
