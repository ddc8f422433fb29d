// A platform for tests: a virtual counter that advances by one tick at every
// reading, and a trace of everything the system asks of the platform.
//
// The trace is one line of words: "open NAME", "claim", "lock" (memory),
// "w0" (the wake-up byte), "s100" (sleeps in a row, in ms), "rest", "P" and
// "T" (process and thread priority raised), "N" (normal again), "rtkitN"
// (RTKit asked for priority N), "tick+" and "tick-" (the tick timer), "tN"
// (N tick waits), "write" (to a file), "release", "close", "msg" (standard
// output grew), "pulses CODE/BITS" (a frame for a transmitter) and for each
// frame on the line "CODE/BITS" when every pulse came out exact to the
// tick, "~CODE/BITS" when only within a quarter unit, or else its raw line
// changes ("on TICKS off TICKS ... off").
#pragma once

#include "../platform/platform.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Resets the fake to a configuration given as "FIELD=VALUE ..." (numbers
// in C notation; "console_names=tty0,ttyS0", "device=PATH:NUMBER" and
// "special=NAME", a name that is no regular file, for the lists).
void fake_reset(const std::string& config = "");
std::string fake_trace();
std::int64_t fake_now();
void fake_advance(std::int64_t ticks);
// Contents of a file the system created (recordings), by name.
std::string fake_file(const std::string& name);

// Runs the program's main on the fake with the arguments (blank-separated,
// after "tarvik"); its status, and what it printed.
int run_on_fake(const std::string& args, const std::string& config, std::string* out,
                std::string* err = nullptr);
