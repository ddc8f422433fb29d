// Waits of whole pulse units (1/1200 s) measured against the counter.
#pragma once

#include <cstdint>

struct TimingState {
    std::int64_t frequency;         // counter counts per second
    double unit_ticks;              // counter ticks per pulse unit
    double late_threshold_ticks;    // ticks in 160 µs: a tick older than this is waited for
    std::int64_t tick_period_ticks; // ticks between two timer ticks (1/1024 s)
    int use_mm_timer;               // the periodic timer mode, when non-zero
    std::intptr_t timer_event;      // the event the periodic timer sets (within a frame)
    std::intptr_t timer_id;         // the periodic timer itself (within a frame)
    std::int64_t last_sample;       // the latest counter reading: the next wait starts here
    std::int64_t wait_start;        // where the current wait is measured from
    std::int64_t expected_tick;     // counter value of the timer's current tick
    // The tick timer is running for the current frame. Cleared when it could
    // not be started or stopped ticking: the frame then goes on busy-waiting.
    bool tick_timer_running;
};

extern TimingState timing;

// Longest wait for one timer tick before the frame falls back to busy waiting.
const unsigned TICK_WAIT_LIMIT_MS = 20;

void init_timing(std::int64_t frequency);
void wait_units(int n);
void start_tick_timer();
void stop_tick_timer();
