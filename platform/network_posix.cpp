#include "network.h"

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <initializer_list>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

// Appends the address and a line feed unless it is there already (an
// address can sit on two interfaces) or does not fit.
void add_line(const char* address, char* out, std::size_t size, std::size_t* used) {
    std::size_t length = std::strlen(address);
    for (const char* at = out; at < out + *used;) {
        const char* end = static_cast<const char*>(std::memchr(at, '\n', out + *used - at));
        if (static_cast<std::size_t>(end - at) == length && std::memcmp(at, address, length) == 0)
            return;
        at = end + 1;
    }
    if (*used + length + 2 > size)
        return;
    std::memcpy(out + *used, address, length);
    *used += length;
    out[(*used)++] = '\n';
    out[*used] = '\0';
}

} // namespace

std::size_t plat_network_addresses(bool ipv6, char* out, std::size_t size) {
    std::size_t used = 0;
    if (size > 0)
        out[0] = '\0';
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    for (int family : {AF_INET, AF_INET6}) {
        if (family == AF_INET6 && !ipv6)
            break;
        for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
            if (!entry->ifa_addr || entry->ifa_addr->sa_family != family ||
                (entry->ifa_flags & IFF_LOOPBACK) || !(entry->ifa_flags & IFF_UP))
                continue;
            char text[INET6_ADDRSTRLEN];
            const void* address;
            if (family == AF_INET) {
                address = &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
            } else {
                const in6_addr* six =
                    &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr;
                if (IN6_IS_ADDR_LINKLOCAL(six) || IN6_IS_ADDR_LOOPBACK(six))
                    continue;
                address = six;
            }
            if (inet_ntop(family, address, text, sizeof text))
                add_line(text, out, size, &used);
        }
    }
    freeifaddrs(list);
    return used;
}

bool plat_stdout_terminal() {
    return isatty(STDOUT_FILENO) == 1;
}
