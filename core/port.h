// Opening the port, the wake-up byte and the line's break condition. A port
// whose name ends in ".vcd" is a recording: a Value Change Dump file of the
// break line instead of a device.
#pragma once

#include "../platform/platform.h"
#include "recording.h"

// What a port is, decided once when it is opened.
enum PortKind {
    PORT_SERIAL_LINE,       // frames as break on and off on the transmit line
    PORT_RECORDING,         // frames written to a Value Change Dump file
    PORT_PULSE_TRANSMITTER, // frames as pulse lengths the kernel times (Linux LIRC)
};

struct Port {
    PortKind kind;
    PlatHandle handle;   // the device, or the recording's file
    Recording recording; // with PORT_RECORDING
};

// Why a port was not opened. Only what a user may point at by mistake is
// refused: ordinary files and the like, the system's console (a break there
// is the kernel's SysRq key), a port (or a recording) another program holds,
// and a recording's name that stands for no regular file.
enum PortProblem {
    PORT_OPENED,
    PORT_CANNOT_OPEN,
    PORT_NOT_SERIAL,
    PORT_CONSOLE,
    PORT_IN_USE,
    PORT_NOT_FILE,
};
struct PortFailure {
    PortProblem problem;
    int error; // the system's error number with PORT_CANNOT_OPEN and PORT_IN_USE
};

// False, with *failure filled in when given, when the port is refused.
bool open_port(const char* name, Port* port, PortFailure* failure = nullptr);
bool close_port(Port* port);
// One zero byte, then 100 ms for the device to wake.
void send_wakeup(Port* port);
LineResult port_break_on(Port* port, int* error);
LineResult port_break_off(Port* port, int* error);
// Called when a frame has ended: the line stays off for a while.
void port_idle(Port* port);
// A whole frame to a pulse transmitter; 0, or the system's error number.
int port_write_pulses(Port* port, const std::uint32_t* us, int count);
