// A platform for tests: a virtual counter that advances one tick at every
// reading, and a trace of what the system asks of the platform, in words:
// "open NAME", "claim", "lock", "w0" (the wake-up byte), "sN" (sleeps in a
// row, ms), "rest", "P"/"T" (process/thread priority raised), "N" (normal
// again), "rtkitN" (RTKit asked for N), "tick+"/"tick-" (the tick timer),
// "tN" (N tick waits), "write" (to a file), "release", "close", "msg"
// (standard output grew), "pulses CODE/BITS" (to a transmitter), and for
// each frame on the line "CODE/BITS" (every pulse exact to the tick),
// "~CODE/BITS" (within a quarter unit) or its raw changes ("on TICKS off ...").
#pragma once

#include "../platform/platform.h"

#include <cstdint>
#include <string>

// Resets the fake to "FIELD=VALUE ..." (DEFAULTS in fake_platform.cpp, and
// the lists "console_names=tty0,ttyS0", "device=PATH:NUMBER", "special=NAME"
// for a name that is no regular file).
void fake_reset(const std::string& config = "");
std::string fake_trace();
void fake_advance(std::int64_t ticks);
std::string fake_file(const std::string& name); // what the system wrote to a file

// The program's main on the fake with ARGS (blank-separated, after "tarvik"):
// its status, and what it printed.
int run_on_fake(const std::string& args, const std::string& config, std::string* out,
                std::string* err = nullptr);
