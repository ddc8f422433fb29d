// One run of the program: timing, port, wake-up, then a frame or a script.
#pragma once

#include "../core/commands.h"

struct RunSettings {
    const char* port_name;
    RobotModel model;
    bool no_wakeup;
    bool mm_timer;
    command_code code;
    const char* script_path; // null when the code is to be sent
    bool check;              // only show what would be sent
    const char* name;        // the command as written
    bool verbose;            // describe every frame sent
    int resend;              // times a disturbed frame may be sent again
};

int run_program(const RunSettings& settings);
