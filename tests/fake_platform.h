// A platform for tests: a virtual counter, one tick a reading, and a trace of
// what the system asks, in words: "open NAME", "claim", "lock", "w0" (wake-up
// byte), "sN" (sleeps in a row, ms), "rest", "P"/"T"/"N" (process/thread
// priority raised, normal again), "rtkitN", "tick+"/"tick-"/"tN" (the tick
// timer, N waits), "write", "release", "close", "msg" (standard output grew),
// "pulses CODE/BITS" (to a transmitter), and for each frame on the line
// "CODE/BITS" (exact to the tick), "~CODE/BITS" (within a quarter unit) or
// its raw changes ("on TICKS off ...").
#pragma once

#include "../platform/platform.h"

#include <cstdint>
#include <string>

// Resets the fake to "FIELD=VALUE ..." (DEFAULTS in fake_platform.cpp, lists
// "console_names=tty0,ttyS0", "device=PATH:NUMBER", "special=NOT_A_FILE").
void fake_reset(const std::string& config = "");
std::string fake_trace();
void fake_advance(std::int64_t ticks);
std::string fake_file(const std::string& name); // what the system wrote to a file

// The program's main on the fake (test_runs.cpp): its status, what it printed.
int run_on_fake(const std::string& args, const std::string& config, std::string* out,
                std::string* err = nullptr);
