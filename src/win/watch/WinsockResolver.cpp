#include "win/watch/WinsockResolver.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "core/text/Text.h"
#include "win/security/SystemLibrary.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

IpAddress FromSocketAddress(const sockaddr* address) {
    IpAddress result;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        std::memcpy(result.Bytes.data(), &in->sin_addr, 4);
    } else {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        result.V6 = true;
        std::memcpy(result.Bytes.data(), &in6->sin6_addr, 16);
        if (in6->sin6_scope_id != 0) result.Zone = std::to_string(in6->sin6_scope_id);
    }
    return result;
}

bool IsIp(const sockaddr* address) {
    return address && (address->sa_family == AF_INET || address->sa_family == AF_INET6);
}

}  // namespace

// The IP helper library, loaded from System32 only when first needed: the
// program imports nothing from it statically.
struct WinsockResolver::IpHelper {
    using GetAdaptersAddressesFn = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);
    using NotifyFn = DWORD(WINAPI*)(ADDRESS_FAMILY, PUNICAST_IPADDRESS_CHANGE_CALLBACK, PVOID, BOOLEAN, HANDLE*);
    using CancelFn = DWORD(WINAPI*)(HANDLE);

    UniqueModule module;
    GetAdaptersAddressesFn getAdaptersAddresses = nullptr;
    CancelFn cancel = nullptr;
    HANDLE notification = nullptr;

    explicit IpHelper(std::atomic<bool>& changed)
        : module(LoadSystemLibrary(L"iphlpapi.dll")) {
        if (!module) return;
        getAdaptersAddresses = Function<GetAdaptersAddressesFn>("GetAdaptersAddresses");
        const auto notify = Function<NotifyFn>("NotifyUnicastIpAddressChange");
        cancel = Function<CancelFn>("CancelMibChangeNotify2");
        // Without the notice the addresses are still read every few minutes.
        if (notify && cancel && notify(AF_UNSPEC, &Changed, &changed, FALSE, &notification) != NO_ERROR)
            notification = nullptr;
    }
    ~IpHelper() {
        // Returns once no callback runs any more.
        if (notification) cancel(notification);
    }
    IpHelper(const IpHelper&) = delete;
    IpHelper& operator=(const IpHelper&) = delete;

    template <typename Fn>
    Fn Function(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module.get(), name)));
    }

    // On a thread of the system's; only sets the flag.
    static void WINAPI Changed(PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE) noexcept {
        static_cast<std::atomic<bool>*>(context)->store(true);
    }
};

void StartWinsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);  // a failure only makes every lookup "(N/A)"
}

WinsockResolver::WinsockResolver() = default;

WinsockResolver::~WinsockResolver() = default;

std::vector<IpAddress> WinsockResolver::Resolve(const std::string& name) {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    ADDRINFOW* found = nullptr;
    if (GetAddrInfoW(Wide(name).c_str(), nullptr, &hints, &found) != 0) return {};
    std::vector<IpAddress> addresses;
    try {
        for (const ADDRINFOW* a = found; a; a = a->ai_next)
            if (IsIp(a->ai_addr)) addresses.push_back(FromSocketAddress(a->ai_addr));
    } catch (...) {
        FreeAddrInfoW(found);
        throw;
    }
    FreeAddrInfoW(found);
    return addresses;
}

std::optional<std::string> WinsockResolver::LocalHostName() {
    char name[260] = {};
    if (gethostname(name, sizeof name) != 0) return std::nullopt;
    return text::Cp932ToUtf8(name);
}

std::vector<IpAddress> WinsockResolver::InterfaceAddresses() {
    if (!ipHelper_) ipHelper_ = std::make_unique<IpHelper>(changed_);
    if (!ipHelper_->getAdaptersAddresses) return {};
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG status = ERROR_BUFFER_OVERFLOW;
    // An adapter may come between the two calls: the size is asked again.
    for (int attempt = 0; attempt < 3 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        ULONG size = static_cast<ULONG>(buffer.size());
        status = ipHelper_->getAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                                 reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()), &size);
        if (status == ERROR_BUFFER_OVERFLOW) buffer.resize(size);
    }
    if (status != NO_ERROR) return {};
    std::vector<IpAddress> addresses;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next)
        for (const IP_ADAPTER_UNICAST_ADDRESS* a = adapter->FirstUnicastAddress; a; a = a->Next)
            if (IsIp(a->Address.lpSockaddr)) addresses.push_back(FromSocketAddress(a->Address.lpSockaddr));
    return addresses;
}

bool WinsockResolver::InterfaceAddressesChanged() { return changed_.exchange(false); }

}  // namespace corvane::win
