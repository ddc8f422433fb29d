#include "command.h"

#include "crt_scan.h"

bool read_command(const char* text, RobotModel* model, command_code* code) {
    if (text[0] == '0' && text[1] == 'x') {
        *code = 0;
        scan_hex32(text + 2, code);
        if (*code > 0xFF && *model == MODEL_V1)
            *model = MODEL_V2;
        return true;
    }
    *code = lookup_command(text, *model);
    return *code != 0;
}

bool resolve_command(const char* text, RobotModel* model, command_code* code) {
    if (text[0] == '0' && text[1] == 'x') {
        std::uint32_t value = 0;
        const char* digit = text + 2;
        for (; *digit; ++digit) {
            int d = *digit >= '0' && *digit <= '9'   ? *digit - '0'
                    : *digit >= 'a' && *digit <= 'f' ? *digit - 'a' + 10
                    : *digit >= 'A' && *digit <= 'F' ? *digit - 'A' + 10
                                                     : -1;
            if (d < 0 || value > 0xFFFFFFFu)
                return false;
            value = value << 4 | static_cast<std::uint32_t>(d);
        }
        if (digit == text + 2)
            return false;
        *code = static_cast<command_code>(value);
        if (value > 0xFF && *model == MODEL_V1)
            *model = MODEL_V2;
        return true;
    }
    *code = find_command(text, *model);
    return *code != 0;
}
