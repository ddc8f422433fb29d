#include "qr.h"

#ifdef TARVIK_QRENCODE
#include <qrencode.h>
#endif

#include <vector>

namespace {

// The modules of the code, row by row, true for dark; false when there is
// no code.
bool qr_modules(const std::string& text, std::vector<bool>* dark, int* width) {
#ifdef TARVIK_QRENCODE
    // Level M: a phone reads a screen that reflects or is partly covered.
    QRcode* code = QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M);
    if (!code)
        return false;
    *width = code->width;
    dark->assign(static_cast<std::size_t>(code->width) * code->width, false);
    for (std::size_t i = 0; i < dark->size(); ++i)
        (*dark)[i] = code->data[i] & 1;
    QRcode_free(code);
    return true;
#else
    (void)text;
    (void)dark;
    (void)width;
    return false;
#endif
}

// Text as SVG holds it.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
}

} // namespace

bool qr_terminal_text(const std::string& text, std::string* out) {
    std::vector<bool> dark;
    int width = 0;
    if (!qr_modules(text, &dark, &width))
        return false;
    const int quiet = 2;
    const int size = width + 2 * quiet;
    auto at = [&](int x, int y) {
        x -= quiet;
        y -= quiet;
        return x >= 0 && y >= 0 && x < width && y < width &&
               dark[static_cast<std::size_t>(y) * width + x];
    };
    out->clear();
    for (int y = 0; y < size; y += 2) {
        // Black on white from the 256-colour cube, which themes leave alone.
        *out += "\033[38;5;16;48;5;231m";
        for (int x = 0; x < size; ++x) {
            bool top = at(x, y), bottom = y + 1 < size && at(x, y + 1);
            *out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        *out += "\033[0m\n";
    }
    return true;
}

bool qr_svg(const std::string& text, std::string* out) {
    std::vector<bool> dark;
    int width = 0;
    if (!qr_modules(text, &dark, &width))
        return false;
    const int quiet = 4;
    const std::string size = std::to_string(width + 2 * quiet);
    *out = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + size + " " + size +
           "\" shape-rendering=\"crispEdges\"><title>" + escaped(text) + "</title><rect width=\"" +
           size + "\" height=\"" + size + "\" fill=\"#fff\"/><path fill=\"#000\" d=\"";
    // One rectangle for each run of dark modules in a row.
    for (int y = 0; y < width; ++y)
        for (int x = 0; x < width;) {
            if (!dark[static_cast<std::size_t>(y) * width + x]) {
                ++x;
                continue;
            }
            int run = 1;
            while (x + run < width && dark[static_cast<std::size_t>(y) * width + x + run])
                ++run;
            *out += "M" + std::to_string(x + quiet) + " " + std::to_string(y + quiet) + "h" +
                    std::to_string(run) + "v1h-" + std::to_string(run) + "z";
            x += run;
        }
    *out += "\"/></svg>\n";
    return true;
}
