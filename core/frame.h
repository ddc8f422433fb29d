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
    // The device refused the break condition (it has none): the frame did
    // not go out either, though the device is still there. error holds why.
    bool refused;
    int error;
    // How much later than its ideal time the latest line change came, in
    // counter ticks: a host pause shows here (0 for a pulse transmitter).
    std::int64_t late_ticks;
};

FrameResult send_frame(Port* port, command_code code, RobotModel model, bool report);

// The realtime priority a frame asks for: ours, or the highest the user's
// limit allows when that is lower but above 0 (a user granted 20 by the
// system's limits would otherwise get none).
int direct_priority();
extern const int REALTIME_PRIORITY;

// A frame as data: its pulse lengths in units, the line alternating from
// break on (8, then per bit 4 or 1 off and 1 on). Returns the count: 17 for
// 8-bit frames, 25 for 12-bit ones.
const int MAX_FRAME_PULSES = 25;
int frame_units(command_code code, RobotModel model, unsigned char out[MAX_FRAME_PULSES]);

// The same lengths for an infrared transmitter, in whole microseconds. Each
// edge is rounded from the frame's start, so rounding never adds up.
int frame_pulses_us(command_code code, RobotModel model, std::uint32_t out[MAX_FRAME_PULSES]);
