#include "timing.h"

#include "../platform/platform.h"

TimingState timing;

void init_timing(std::int64_t frequency) {
    timing.frequency = frequency;
    double f = static_cast<double>(frequency);
    timing.unit_ticks = f * 0.0008333333333333334;
    timing.late_threshold_ticks = f * 0.00015999999999999999;
    timing.tick_period_ticks = static_cast<std::int64_t>(f * 0.0009765625);
}

namespace {

bool tick_mode() {
    return timing.use_mm_timer && timing.tick_timer_running;
}

// Waits for the timer's event; a timer that stopped ticking ends tick mode
// for the rest of the frame instead of blocking it.
void wait_for_tick() {
    if (!plat_tick_wait(timing.timer_event, TICK_WAIT_LIMIT_MS))
        timing.tick_timer_running = false;
}

} // namespace

void wait_units(int n) {
    if (tick_mode() && n > 1) {
        for (int i = 0; i < n; ++i)
            wait_units(1);
        return;
    }
    timing.wait_start = timing.last_sample;
    if (tick_mode()) {
        timing.last_sample = plat_counter();
        std::int64_t d = timing.last_sample - timing.expected_tick;
        if (static_cast<double>(d) > timing.late_threshold_ticks) {
            wait_for_tick();
            timing.expected_tick = plat_counter();
        } else if (timing.last_sample > timing.expected_tick) {
            timing.expected_tick += timing.tick_period_ticks;
        }
    }
    const std::int64_t target = static_cast<std::int64_t>(n * timing.unit_ticks);
    do {
        timing.last_sample = plat_counter();
    } while (timing.last_sample - timing.wait_start < target);
}

namespace {

void release_tick_timer() {
    plat_tick_timer_stop(timing.timer_event, timing.timer_id);
    timing.timer_id = 0;
    timing.timer_event = 0;
    timing.tick_timer_running = false;
}

} // namespace

void start_tick_timer() {
    if (!timing.use_mm_timer)
        return;
    timing.tick_timer_running = false;
    if (!plat_tick_timer_start(&timing.timer_event, &timing.timer_id))
        return; // this frame goes out busy-waiting
    if (!plat_tick_wait(timing.timer_event, TICK_WAIT_LIMIT_MS)) {
        release_tick_timer(); // ... and so does one whose timer never ticks
        return;
    }
    timing.expected_tick = plat_counter();
    // One plain unit after the tick, so the frame starts clear of it.
    timing.last_sample = plat_counter();
    wait_units(1);
    timing.tick_timer_running = true;
}

void stop_tick_timer() {
    // Whatever the mode says by now: what the frame's start made is given
    // back. Nothing to stop when it made nothing or already gave up.
    if (timing.timer_event != 0)
        release_tick_timer();
}
