#include "access.h"

#include <random>

namespace {

// Four decimal numbers 0-255 without leading zeros, the first 127: only the
// literal, never a name that starts alike (127.attacker.example).
bool is_loopback_quad(const std::string& name) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= name.size() || name[at++] != '.'))
            return false;
        std::size_t start = at;
        int value = 0;
        while (at < name.size() && at - start < 4 && name[at] >= '0' && name[at] <= '9')
            value = value * 10 + (name[at++] - '0');
        std::size_t digits = at - start;
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && name[start] == '0') ||
            (part == 0 && value != 127))
            return false;
    }
    return at == name.size();
}

bool is_loopback_name(const std::string& name) {
    return name == "localhost" || name == "[::1]" || is_loopback_quad(name);
}

// Compares without stopping at the first difference, so that timing tells
// nothing about the key.
bool same_key(const std::string& a, const std::string& b) {
    unsigned difference = a.size() != b.size();
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace

std::string refusal(const Access& access, const std::string& host, const std::string& origin,
                    const std::string& key_given, bool page) {
    // "name:port" or "name" for port 80; the name may be a bracketed IPv6
    // address.
    std::string name = host;
    std::string port = "80";
    std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
    }
    if (port != std::to_string(access.port) || (access.loopback && !is_loopback_name(name)))
        return "request for another host";
    if (!origin.empty() && origin != "http://" + host)
        return "request from another origin";
    if (!page && !access.key.empty() && !same_key(key_given, access.key))
        return "missing or wrong key";
    return "";
}

std::string cookie_key(const std::string& cookies) {
    const std::string name = "tarvik_key=";
    for (std::size_t at = 0; at < cookies.size();) {
        while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';'))
            ++at;
        std::size_t end = cookies.find(';', at);
        if (end == std::string::npos)
            end = cookies.size();
        if (cookies.compare(at, name.size(), name) == 0)
            return cookies.substr(at + name.size(), end - at - name.size());
        at = end;
    }
    return "";
}

std::string make_key() {
    std::random_device source;
    static const char digits[] = "0123456789abcdef";
    std::string key;
    for (int i = 0; i < 4; ++i) {
        std::uint32_t word = source();
        for (int j = 0; j < 8; ++j, word >>= 4)
            key += digits[word & 15];
    }
    return key;
}
