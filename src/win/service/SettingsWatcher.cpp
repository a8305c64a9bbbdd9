#include "win/service/SettingsWatcher.h"

namespace corvane::win {
namespace {

constexpr DWORD kQuietMs = 300;  // writes closer together than this are one change
constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

}  // namespace

SettingsWatcher::SettingsWatcher(std::wstring folder, std::wstring fileName, std::function<void()> changed)
    : folder_(std::move(folder)), fileName_(std::move(fileName)), changed_(std::move(changed)) {}

SettingsWatcher::~SettingsWatcher() {
    if (thread_.joinable()) {
        SetEvent(stop_.get());
        thread_.join();
    }
}

DWORD SettingsWatcher::Start() {
    directory_.reset(CreateFileW(folder_.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!directory_) return GetLastError();
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    done_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_ || !done_) return GetLastError();
    thread_ = std::thread([this] { Watch(); });
    return NO_ERROR;
}

// Whether one of the records names the settings file (names compared as
// the file system does, without regard to case).
bool SettingsWatcher::Named(const BYTE* records, DWORD size) const {
    for (DWORD offset = 0; offset + sizeof(FILE_NOTIFY_INFORMATION) <= size;) {
        const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(records + offset);
        const DWORD chars = info->FileNameLength / sizeof(wchar_t);
        if (offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) + info->FileNameLength > size) break;
        if (CompareStringOrdinal(info->FileName, static_cast<int>(chars), fileName_.c_str(),
                                 static_cast<int>(fileName_.size()), TRUE) == CSTR_EQUAL)
            return true;
        if (info->NextEntryOffset == 0) break;
        offset += info->NextEntryOffset;
    }
    return false;
}

void SettingsWatcher::Watch() noexcept {
    alignas(DWORD) BYTE buffer[8192];
    OVERLAPPED overlapped{};
    bool reading = false;  // a read is outstanding: no change goes unseen between two reads
    bool pending = false;  // a change waits for the file's writes to go quiet
    ULONGLONG quietAt = 0;
    for (;;) {
        if (!reading) {
            overlapped = OVERLAPPED{};
            overlapped.hEvent = done_.get();
            ResetEvent(done_.get());
            if (!ReadDirectoryChangesW(directory_.get(), buffer, sizeof buffer, FALSE, kFilter, nullptr, &overlapped,
                                       nullptr))
                return;  // the folder cannot be watched: the settings stay as they are
            reading = true;
        }
        const HANDLE waits[] = {stop_.get(), done_.get()};
        const ULONGLONG now = GetTickCount64();
        const DWORD timeout = !pending ? INFINITE : quietAt > now ? static_cast<DWORD>(quietAt - now) : 0;
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, timeout);
        if (woke == WAIT_TIMEOUT) {
            pending = false;
            try {
                changed_();
            } catch (...) {
            }
            continue;
        }
        if (woke != WAIT_OBJECT_0 + 1) {  // stopped
            CancelIoEx(directory_.get(), &overlapped);
            DWORD ignored = 0;
            GetOverlappedResult(directory_.get(), &overlapped, &ignored, TRUE);
            return;
        }
        reading = false;
        DWORD size = 0;
        if (!GetOverlappedResult(directory_.get(), &overlapped, &size, FALSE)) return;
        // No records: more changed than the buffer held, the file among them maybe.
        if (size == 0 || Named(buffer, size)) {
            pending = true;
            quietAt = GetTickCount64() + kQuietMs;
        }
    }
}

}  // namespace corvane::win
