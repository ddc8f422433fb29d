// One frame on the line: an 8-unit lead-in of break, then per bit (most
// significant first) a gap of 4 units for 1 or 1 unit for 0, and a 1-unit
// separator of break.
#pragma once

#include "commands.h"
#include "port.h"

struct FrameResult {
    bool thread_priority_restored;
    bool device_gone; // a line change failed because the device went away
};

FrameResult send_frame(PortHandle port, command_code code, RobotModel model, bool report);
