// Who may use the remote: requests for the address it serves (no other
// host name, so DNS rebinding fails), from its own page or from programs
// (no other origin), carrying the key when it listens beyond loopback.
#pragma once

#include <string>

struct Access {
    int port;        // the port it listens on
    bool loopback;   // listening on this machine only: names must be loopback ones
    std::string key; // "" when none is needed
};

// The refusal's reason, or "" when the request may go on. key_given is the
// query's or the cookie's key ("" when neither); page is the page itself,
// which needs no key (it reads the key from its own address).
std::string refusal(const Access& access, const std::string& host, const std::string& origin,
                    const std::string& key_given, bool page);

// The key as a cookie header carries it ("" when it is not there).
std::string cookie_key(const std::string& cookies);

// 128 random bits in hexadecimal.
std::string make_key();
