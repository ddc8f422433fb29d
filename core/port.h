// Opening the port, the wake-up byte and the line's break condition. A port
// whose name ends in ".vcd" is a recording: a Value Change Dump file of the
// break line instead of a device.
#pragma once

#include "../platform/platform.h"

typedef PlatHandle PortHandle;
const PortHandle INVALID_PORT = PLAT_INVALID_HANDLE;

// Why a port was not opened. Only what a user may point at by mistake is
// refused: ordinary files and the like, the system's console (a break there
// is the kernel's SysRq key), and a port another program holds.
enum PortProblem { PORT_OPENED, PORT_CANNOT_OPEN, PORT_NOT_SERIAL, PORT_CONSOLE, PORT_IN_USE };
struct PortFailure {
    PortProblem problem;
    int error; // the system's error number with PORT_CANNOT_OPEN and PORT_IN_USE
};

PortHandle open_port(const char* name, PortFailure* failure = nullptr);
bool close_port(PortHandle port);
// One zero byte, then 100 ms for the device to wake.
void send_wakeup(PortHandle port);
LineResult port_break_on(PortHandle port, int* error);
LineResult port_break_off(PortHandle port, int* error);
// Called when a frame has ended: the line stays off for a while.
void port_idle(PortHandle port);

// An infrared transmitter that takes whole frames as pulse lengths (Linux
// LIRC devices) instead of a line to switch.
bool port_takes_pulses(PortHandle port);
// 0 on success, else the system's error number.
int port_write_pulses(PortHandle port, const std::uint32_t* us, int count);
