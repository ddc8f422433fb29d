// QR codes of the address to open, so that a phone's camera opens it: as
// text for a terminal and as SVG for the page.
#pragma once

#include <string>

// The code drawn with half-block characters, two rows of modules a line,
// dark on light in explicit colours (so it reads the same on a dark or a
// light terminal) inside a quiet zone of 2 modules. False when the build has
// no QR codes (no libqrencode) or the text does not fit one.
bool qr_terminal_text(const std::string& text, std::string* out);

// The code as an SVG image, dark on white, with a quiet zone of 4 modules.
bool qr_svg(const std::string& text, std::string* out);
