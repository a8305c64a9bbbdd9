#include "win/watch/NetApi.h"

#include <lm.h>

#include "win/security/SystemLibrary.h"

namespace corvane::win {
namespace {

constexpr DWORD kMaxPreferredLength = static_cast<DWORD>(-1);

template <typename Fn>
bool Lookup(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr;
}

std::string Text(const wchar_t* s) { return s ? Narrow(s) : std::string(); }

// Frees the enumeration buffer whatever happened to the call.
class ApiBuffer {
public:
    explicit ApiBuffer(DWORD(WINAPI* freeFn)(LPVOID)) : free_(freeFn) {}
    ~ApiBuffer() {
        if (buffer_) free_(buffer_);
    }
    ApiBuffer(const ApiBuffer&) = delete;
    ApiBuffer& operator=(const ApiBuffer&) = delete;
    LPBYTE* Address() { return &buffer_; }
    LPBYTE Get() const { return buffer_; }

private:
    DWORD(WINAPI* free_)(LPVOID);
    LPBYTE buffer_ = nullptr;
};

}  // namespace

std::unique_ptr<NetApi> NetApi::Bind(const wchar_t* libraryName) {
    std::unique_ptr<NetApi> api(new NetApi());
    api->module_.reset(LoadSystemLibrary(libraryName));
    if (!api->module_) return nullptr;
    HMODULE m = api->module_.get();
    if (!Lookup(m, "NetSessionEnum", api->sessionEnum_) || !Lookup(m, "NetFileEnum", api->fileEnum_) ||
        !Lookup(m, "NetApiBufferFree", api->bufferFree_) || !Lookup(m, "NetSessionDel", api->sessionDel_) ||
        !Lookup(m, "NetMessageBufferSend", api->messageBufferSend_)) {
        return nullptr;
    }
    Lookup(m, "NetFileGetInfo", api->fileGetInfo_);
    Lookup(m, "NetFileClose", api->fileClose_);
    return api;
}

std::uint32_t NetApi::EnumSessions(std::vector<SessionRecord>& records) {
    records.clear();
    ApiBuffer buffer(bufferFree_);
    DWORD read = 0, total = 0;
    const DWORD status = sessionEnum_(nullptr, nullptr, nullptr, 502, buffer.Address(), kMaxPreferredLength, &read,
                                      &total, nullptr);
    if (status != 0) return status;
    const auto* info = reinterpret_cast<const SESSION_INFO_502*>(buffer.Get());
    if (!info) return 0;  // no buffer: no records
    records.reserve(read);
    for (DWORD i = 0; i < read; ++i) {
        records.push_back({Text(info[i].sesi502_cname), Text(info[i].sesi502_username), info[i].sesi502_num_opens,
                           info[i].sesi502_time, info[i].sesi502_idle_time});
    }
    return 0;
}

std::uint32_t NetApi::EnumFiles(std::vector<FileRecord>& records) {
    records.clear();
    ApiBuffer buffer(bufferFree_);
    DWORD read = 0, total = 0;
    const DWORD status =
        fileEnum_(nullptr, nullptr, nullptr, 3, buffer.Address(), kMaxPreferredLength, &read, &total, nullptr);
    if (status != 0) return status;
    const auto* info = reinterpret_cast<const FILE_INFO_3*>(buffer.Get());
    if (!info) return 0;
    records.reserve(read);
    for (DWORD i = 0; i < read; ++i) {
        records.push_back({info[i].fi3_id, info[i].fi3_permissions, info[i].fi3_num_locks,
                           Text(info[i].fi3_pathname), Text(info[i].fi3_username)});
    }
    return 0;
}

void NetApi::SessionDel(const std::string& uncClientName, const std::string& userName) {
    std::wstring client = Wide(uncClientName), user = Wide(userName);
    sessionDel_(nullptr, client.data(), user.data());  // the status is of no use to the caller
}

void NetApi::MessageBufferSend(const std::string& computerName, const std::string& message) {
    const std::wstring name = Wide(computerName);
    std::wstring text = Wide(message);
    // Two bytes per UTF-16 unit, no terminator; an empty text goes without a buffer.
    messageBufferSend_(nullptr, name.c_str(), nullptr, text.empty() ? nullptr : reinterpret_cast<LPBYTE>(text.data()),
                       static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

std::uint32_t NetApi::FileGetInfo(std::uint32_t fileId, FileRecord& record) {
    if (!fileGetInfo_) return kStatusNotSupported;
    ApiBuffer buffer(bufferFree_);
    const DWORD status = fileGetInfo_(nullptr, fileId, 3, buffer.Address());
    if (status != 0) return status;
    const auto* info = reinterpret_cast<const FILE_INFO_3*>(buffer.Get());
    if (!info) return ERROR_INVALID_DATA;  // success without a record: nothing can be checked
    record = {info->fi3_id, info->fi3_permissions, info->fi3_num_locks, Text(info->fi3_pathname),
              Text(info->fi3_username)};
    return 0;
}

std::uint32_t NetApi::FileClose(std::uint32_t fileId) {
    if (!fileClose_) return kStatusNotSupported;
    return fileClose_(nullptr, fileId);  // the local server
}

}  // namespace corvane::win
