// Frames of the program's run and what it says about its port: the fixed
// texts on standard output, the reasons on standard error.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

// The port the messages name (Linux names the device a COM name stands for).
void name_port(const char* name);

// "error opening port", and why.
void report_open_failure(const PortFailure& failure);

#include <cstdio>

// Checks of the frames sent: -v describes each one, -resend sends a
// disturbed one again (at most that many times). Counted from here on.
void start_frame_checks(bool verbose, int resend);
// Whether -v asked for every frame to be described.
bool describing_frames();
// How many frames went out and how many were disturbed, when any were (or
// with -v).
void report_frame_checks();

// From here on frames print nothing on standard output (the remote's, whose
// standard output carries only its address): no priority warnings, and a
// port that fails is told on standard error alone.
void keep_frames_off_stdout();

// Sends one frame of the run (name as the user wrote it); 0, or 1 after
// "error writing port" when the device has gone away, or after the reason
// (on standard error, once a run) when it refused the break condition. A frame whose line
// changes came more than a quarter unit late is reported on standard error.
// *disturbed, when given, tells whether the last attempt was disturbed.
int send_command(Port* port, const char* name, command_code code, RobotModel model,
                 bool* disturbed = nullptr);

// "NAME (0xCODE): BITS", the code as wide as the frame.
void describe_frame(std::FILE* out, const char* name, command_code code, RobotModel model);
