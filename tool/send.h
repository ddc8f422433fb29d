// Frames of the program's run and what it says about its port: the fixed
// texts on standard output, the reasons on standard error.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

// The port the messages name (Linux names the device a COM name stands for).
void name_port(const char* name);

// "error opening port", and why.
void report_open_failure(const PortFailure& failure);

// Sends one frame of the run; 0, or 1 after "error writing port" when the
// device has gone away.
int send_command(Port* port, command_code code, RobotModel model);
