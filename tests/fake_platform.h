// A platform for tests: a virtual counter that advances by a fixed step at
// every reading, and a log of everything the system asks of the platform.
#pragma once

#include "../core/port.h"
#include "../platform/platform.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum FakeOp {
    OP_OPEN,
    OP_CLAIM,
    OP_RELEASE,
    OP_CLOSE,
    OP_LOCK_MEMORY,
    OP_WRITE_BYTE,
    OP_BREAK_ON,
    OP_BREAK_OFF,
    OP_SLEEP,
    OP_REST,
    OP_RAISE_PROCESS,
    OP_RAISE_THREAD,
    OP_NORMAL_PROCESS,
    OP_NORMAL_THREAD,
    OP_TICK_START,
    OP_TICK_STOP,
    OP_TICK_WAIT,
    OP_WRITE_PULSES,
};

struct FakeCall {
    FakeOp op;
    std::int64_t time;  // virtual counter value when the call was made
    std::int64_t value; // byte written, ms slept, ...
    std::string text;   // port name opened; pulse lengths written, in µs
    long printed;       // bytes on standard output so far, when it is a file
};

struct FakeConfig {
    std::int64_t frequency = 10000000;
    std::int64_t step = 1;
    std::int64_t start = 1000000;
    bool has_counter = true;
    bool open_fails = false;
    int open_error = 13;
    bool port_is_char = true;                     // false: the "port" is an ordinary file
    std::uint64_t port_device = 0x440;            // its device number
    std::string console_names;                    // the system's console list ...
    std::map<std::string, std::uint64_t> devices; // ... and device numbers by path
    bool port_in_use = false;                     // another program holds the port
    long process_error = 0;                       // non-zero: raising fails with this error
    long thread_error = 0;
    bool tick_start_fails = false;
    int ticks_stop_at = 0; // from this tick wait on (counted from 1) no tick comes
    bool caps_fail = false;
    unsigned min_period_ms = 1;
    int break_error = 0;          // every line change fails with this error ...
    int break_fails_from = 0;     // ... from this line change on (counted from 1)
    int gone_error = 5;           // the error that the backend takes for a vanished device
    int interrupt_at_sleep = 0;   // the n-th sleep catches an interruption (status 130)
    std::int64_t sleep_ticks = 0; // non-zero: every sleep advances this much
    bool pulse_device = false;    // the port is an infrared transmitter
    int pulse_error = 0;          // its writes fail with this error
};

void fake_reset(const FakeConfig& config = FakeConfig());
// The fake's serial line as an open port, for the core's own calls.
Port* fake_serial_port();
const std::vector<FakeCall>& fake_calls();
std::vector<FakeCall> fake_calls_of(FakeOp op);
std::int64_t fake_now();
void fake_advance(std::int64_t ticks);
// Contents of a file the system created (recordings), by name.
std::string fake_file(const std::string& name);
// Line changes as (time, on) pairs.
std::vector<std::pair<std::int64_t, bool>> fake_line_changes();
