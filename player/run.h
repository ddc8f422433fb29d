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
    bool check;              // only show what would be sent
    const char* name;        // the command as written
    bool verbose;            // describe every frame sent
    int resend;              // times a disturbed frame may be sent again
    const char* listen;      // -serve: where the remote control listens
};

int run_program(const RunSettings& settings);

// The start of every run: timing, the port, the wake-up. False when the run
// cannot go on: *status is then 1 when the port is not open, 0 when it is
// (an interruption during the wake-up) and end_run must close it.
bool begin_run(const RunSettings& settings, Port* port, int* status);
// The end: the port closed, the frames counted; the exit status.
int end_run(Port* port, int status);
