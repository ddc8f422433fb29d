// The machine's own network addresses, for the remote control's start lines.
// Apart from platform.h because only the remote links it: on Windows it needs
// the socket library, which the Java library must not import.
#pragma once

#include <cstddef>

// The addresses by which other machines may reach this one, numeric, one a
// line: IPv4 first, then IPv6 when ipv6 is asked for. Loopback is never one,
// nor an IPv6 link-local address (no browser opens one). The length written.
std::size_t plat_network_addresses(bool ipv6, char* out, std::size_t size);

// Standard output is a terminal (where a drawing of block characters shows).
bool plat_stdout_terminal();
