// One frame on the line: an 8-unit lead-in of break, then per bit (most
// significant first) a gap of 4 units for 1 or 1 unit for 0, and a 1-unit
// separator of break.
#pragma once

#include "commands.h"
#include "port.h"

struct FrameResult {
    bool thread_priority_restored;
    // The frame did not go out: the device went away, or a pulse device
    // refused it. error holds the system's error number then.
    bool port_failed;
    int error;
};

FrameResult send_frame(PortHandle port, command_code code, RobotModel model, bool report);

// A frame as the pulse and space lengths of an infrared transmitter, in whole
// microseconds: the lead-in pulse, then per bit a space and a pulse. Each
// edge is rounded from the frame's start, so rounding never adds up. Returns
// the count of values (odd: it starts and ends with a pulse).
const int MAX_PULSE_VALUES = 25;
int frame_pulses_us(command_code code, RobotModel model, std::uint32_t out[MAX_PULSE_VALUES]);
