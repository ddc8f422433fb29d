// Text and numbers read as the Windows C runtime the program was designed on
// reads them ("%x", "%ld %s"), written out so that every build reads the
// same: 32-bit values, wrapping modulo 2^32, C locale.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads as "%x" does: blanks, a sign, an optional "0x"/"0X", hex digits.
// False, with *value untouched, when no digit can be read.
bool scan_hex32(const char* text, std::int32_t* value);

// Reads as "%ld %s" does with a 32-bit long: the number of items read (0, 1
// or 2). The token is cut to token_size - 1 bytes.
int scan_delay_and_token(const char* text, std::int32_t* delay, char* token,
                         std::size_t token_size);
