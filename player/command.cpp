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
