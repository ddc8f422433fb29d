// Waits of whole pulse units (1/1200 s) measured against the counter.
#pragma once

#include <cstdint>

struct TimingState {
    std::int64_t frequency;
    double unit_ticks;
    double late_threshold_ticks;
    std::int64_t tick_period_ticks;
    int use_mm_timer;
    std::intptr_t timer_event;
    std::intptr_t timer_id;
    std::int64_t last_sample;
    std::int64_t wait_start;
    std::int64_t expected_tick;
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
