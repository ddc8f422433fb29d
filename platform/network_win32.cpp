#include "network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <initializer_list>

namespace {

// Appends the address and a line feed unless it is there already or does
// not fit.
void add_line(const char* address, char* out, std::size_t size, std::size_t* used) {
    std::size_t length = std::strlen(address);
    for (const char* at = out; at < out + *used;) {
        const char* end = static_cast<const char*>(std::memchr(at, '\n', out + *used - at));
        if (static_cast<std::size_t>(end - at) == length && std::memcmp(at, address, length) == 0)
            return;
        at = end + 1;
    }
    if (length == 0 || *used + length + 2 > size)
        return;
    std::memcpy(out + *used, address, length);
    *used += length;
    out[(*used)++] = '\n';
    out[*used] = '\0';
}

} // namespace

// The host name's addresses: what the socket library alone knows of the
// machine (the adapter list would need another system library).
std::size_t plat_network_addresses(bool ipv6, char* out, std::size_t size) {
    std::size_t used = 0;
    if (size > 0)
        out[0] = '\0';
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 0;
    char host[256];
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    addrinfo* list = nullptr;
    if (gethostname(host, sizeof host) == 0 && getaddrinfo(host, nullptr, &hints, &list) == 0) {
        for (int family : {AF_INET, AF_INET6}) {
            if (family == AF_INET6 && !ipv6)
                break;
            for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
                if (entry->ai_family != family)
                    continue;
                char text[INET6_ADDRSTRLEN] = "";
                if (family == AF_INET) {
                    const in_addr* four =
                        &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
                    if ((ntohl(four->s_addr) >> 24) == 127)
                        continue;
                    inet_ntop(AF_INET, const_cast<in_addr*>(four), text, sizeof text);
                } else {
                    const in6_addr* six =
                        &reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr;
                    if (IN6_IS_ADDR_LINKLOCAL(six) || IN6_IS_ADDR_LOOPBACK(six))
                        continue;
                    inet_ntop(AF_INET6, const_cast<in6_addr*>(six), text, sizeof text);
                }
                add_line(text, out, size, &used);
            }
        }
        freeaddrinfo(list);
    }
    WSACleanup();
    return used;
}

// The Windows build prints the addresses without the drawing.
bool plat_stdout_terminal() {
    return false;
}
