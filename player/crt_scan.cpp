#include "crt_scan.h"

namespace {

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skip_space(const char* p) {
    while (is_c_space(*p))
        ++p;
    return p;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Optional sign; returns true for "-".
bool read_sign(const char** p) {
    if (**p == '-' || **p == '+')
        return *(*p)++ == '-';
    return false;
}

} // namespace

bool scan_hex32(const char* text, std::int32_t* value) {
    const char* p = skip_space(text);
    bool negative = read_sign(&p);
    // "0x" is read as a prefix; when no hexadecimal digit follows it the
    // conversion fails, as "%x" does: the prefix's "0" is no digit of its own.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        p += 2;
    bool digits = false;
    std::uint32_t v = 0;
    for (int d; (d = hex_digit(*p)) >= 0; ++p) {
        v = v * 16u + static_cast<std::uint32_t>(d);
        digits = true;
    }
    if (!digits)
        return false;
    if (negative)
        v = 0u - v;
    *value = static_cast<std::int32_t>(v);
    return true;
}

int scan_delay_and_token(const char* text, std::int32_t* delay, char* token,
                         std::size_t token_size) {
    const char* p = skip_space(text);
    bool negative = read_sign(&p);
    if (*p < '0' || *p > '9')
        return 0;
    std::uint32_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        v = v * 10u + static_cast<std::uint32_t>(*p - '0');
    *delay = static_cast<std::int32_t>(negative ? 0u - v : v);

    p = skip_space(p);
    if (*p == '\0')
        return 1;
    std::size_t n = 0;
    for (; *p != '\0' && !is_c_space(*p); ++p)
        if (n + 1 < token_size)
            token[n++] = *p;
    token[n] = '\0';
    return 2;
}
