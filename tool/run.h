// One run of the program: timing, port, wake-up, then a frame or a script.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

struct RunSettings {
    const char* port_name;
    RobotModel model;
    bool no_wakeup;
    bool mm_timer;
    command_code code;
    const char* script_path; // null when the code is to be sent
};

int run_program(const RunSettings& settings);

// Sends one frame of the run; 0, or 1 after "error writing port" when the
// device has gone away.
int send_command(PortHandle port, command_code code, RobotModel model);
