#pragma once
// The server-management functions of NETAPI32, bound at run time.
#include <windows.h>

#include <memory>

#include "core/watch/WatchPorts.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

class NetApi final : public IServerApi {
public:
    // Loads the library from the system folder (never the program's) and
    // looks up all five functions; null when the library is missing or lacks
    // any of them. NetFileGetInfo and NetFileClose are looked up too but may
    // be missing: without both the program does without closing files (an id
    // it cannot check is never closed).
    static std::unique_ptr<NetApi> Bind(const wchar_t* libraryName = L"netapi32.dll");

    std::uint32_t EnumSessions(std::vector<SessionRecord>& records) override;
    std::uint32_t EnumFiles(std::vector<FileRecord>& records) override;
    void SessionDel(const std::string& uncClientName, const std::string& userName) override;
    void MessageBufferSend(const std::string& computerName, const std::string& message) override;
    bool CanCloseFiles() const override { return fileGetInfo_ && fileClose_; }
    std::uint32_t FileGetInfo(std::uint32_t fileId, FileRecord& record) override;
    std::uint32_t FileClose(std::uint32_t fileId) override;

private:
    using SessionEnumFn = DWORD(WINAPI*)(LPWSTR, LPWSTR, LPWSTR, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD,
                                         LPDWORD);
    using FileEnumFn = DWORD(WINAPI*)(LPWSTR, LPWSTR, LPWSTR, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD,
                                      PDWORD_PTR);
    using BufferFreeFn = DWORD(WINAPI*)(LPVOID);
    using SessionDelFn = DWORD(WINAPI*)(LPWSTR, LPWSTR, LPWSTR);
    using MessageBufferSendFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, LPBYTE, DWORD);
    using FileGetInfoFn = DWORD(WINAPI*)(LPWSTR, DWORD, DWORD, LPBYTE*);
    using FileCloseFn = DWORD(WINAPI*)(LPWSTR, DWORD);

    NetApi() = default;

    UniqueModule module_;
    SessionEnumFn sessionEnum_ = nullptr;
    FileEnumFn fileEnum_ = nullptr;
    BufferFreeFn bufferFree_ = nullptr;
    SessionDelFn sessionDel_ = nullptr;
    MessageBufferSendFn messageBufferSend_ = nullptr;
    FileGetInfoFn fileGetInfo_ = nullptr;  // null: the library has none
    FileCloseFn fileClose_ = nullptr;      // null: the library has none
};

}  // namespace corvane::win
