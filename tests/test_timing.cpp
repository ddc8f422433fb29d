#include "../core/timing.h"
#include "fake_platform.h"

#include <gtest/gtest.h>

namespace {

void reset(const FakeConfig& config = FakeConfig()) {
    fake_reset(config);
    timing = TimingState();
    init_timing(config.frequency);
}

// Ticks one wait of n units lasts when started right at an anchoring reading.
std::int64_t measure_wait(int n) {
    timing.last_sample = plat_counter();
    std::int64_t start = timing.last_sample;
    wait_units(n);
    return timing.last_sample - start;
}

} // namespace

// Exact doubles: every build must round as plain double arithmetic does
// (the 32-bit Windows build once rounded twice through the x87 unit).
TEST(Timing, DerivedValuesAndWaitLengthsAtBothExampleFrequencies) {
    struct Row {
        std::int64_t frequency;
        double unit, late;
        std::int64_t period;
        std::int64_t one, four, eight;
    } rows[] = {
        {10000000, 8333.333333333334, 1599.9999999999998, 9765, 8333, 33333, 66666},
        {3579545, 2982.954166666667, 572.7271999999999, 3495, 2982, 11931, 23863},
        {4056250, 3380.2083333333335, 648.99999999999989, 3961, 3380, 13520, 27041},
    };
    for (const Row& r : rows) {
        FakeConfig config;
        config.frequency = r.frequency;
        reset(config);
        EXPECT_EQ(timing.unit_ticks, r.unit) << r.frequency;
        EXPECT_EQ(timing.late_threshold_ticks, r.late) << r.frequency;
        EXPECT_EQ(timing.tick_period_ticks, r.period);
        EXPECT_EQ(measure_wait(1), r.one);
        EXPECT_EQ(measure_wait(4), r.four);
        EXPECT_EQ(measure_wait(8), r.eight);
    }
}

TEST(Timing, TimeBetweenWaitsIsAbsorbedNeverMadeUp) {
    reset();
    timing.last_sample = plat_counter();
    std::int64_t anchor = timing.last_sample;
    fake_advance(5000); // the caller spends 5000 ticks switching the line
    wait_units(1);
    EXPECT_EQ(timing.last_sample - anchor, 8333);

    anchor = timing.last_sample;
    fake_advance(10000); // longer than the wait itself
    wait_units(1);
    EXPECT_EQ(timing.last_sample - anchor, 10001); // ends at its first reading

    timing = TimingState(); // never initialised: every wait ends at once
    timing.last_sample = plat_counter();
    anchor = timing.last_sample;
    wait_units(8);
    EXPECT_EQ(timing.last_sample - anchor, 1);
}

TEST(Timing, TickModeCreditsOrWaitsByTheLateThreshold) {
    reset();
    timing.use_mm_timer = 1;
    timing.tick_timer_running = true;
    timing.timer_event = 7;

    // First reading 1599 ticks after the expected tick: credited, no wait.
    timing.last_sample = fake_now();
    timing.expected_tick = fake_now() + 1 - 1599;
    std::int64_t credited = timing.expected_tick + timing.tick_period_ticks;
    wait_units(1);
    EXPECT_EQ(fake_calls_of(OP_TICK_WAIT).size(), 0u);
    EXPECT_EQ(timing.expected_tick, credited);

    // 1600 ticks late: waits on the event and takes the tick from the counter.
    timing.last_sample = fake_now();
    timing.expected_tick = fake_now() + 1 - 1600;
    wait_units(1);
    EXPECT_EQ(fake_calls_of(OP_TICK_WAIT).size(), 1u);
    EXPECT_EQ(timing.expected_tick, fake_calls_of(OP_TICK_WAIT)[0].time + 1);

    // Not past the expected tick: nothing changes.
    timing.expected_tick = fake_now() + 100000;
    std::int64_t expected = timing.expected_tick;
    wait_units(1);
    EXPECT_EQ(timing.expected_tick, expected);

    // Eight units are eight single-unit waits: 8 x 8333 rather than 66666.
    timing.expected_tick = fake_now() + 10000000;
    EXPECT_EQ(measure_wait(8), 8 * 8333);
}

TEST(Timing, TickTimerStartsOneUnitAfterATickAndNeverBlocksWhenBroken) {
    reset();
    timing.use_mm_timer = 1;
    start_tick_timer();
    ASSERT_TRUE(timing.tick_timer_running);
    auto waits = fake_calls_of(OP_TICK_WAIT);
    ASSERT_EQ(waits.size(), 1u);
    // First tick 1 ms after the start; then one plain unit from there.
    std::int64_t started = fake_calls_of(OP_TICK_START)[0].time;
    EXPECT_EQ(timing.expected_tick, started + 10000 + 1);
    EXPECT_EQ(timing.last_sample - timing.expected_tick, 1 + 8333);
    stop_tick_timer();
    EXPECT_EQ(fake_calls_of(OP_TICK_STOP).size(), 1u);
    EXPECT_EQ(timing.use_mm_timer, 1); // the mode holds for the next frame

    // Timer or ticks missing: the frame goes on busy-waiting, and only a
    // timer that started is stopped, once.
    for (int broken = 0; broken < 2; ++broken) {
        FakeConfig config;
        config.tick_start_fails = broken == 0;
        config.ticks_stop_at = broken == 1 ? 1 : 0;
        reset(config);
        timing.use_mm_timer = 1;
        start_tick_timer();
        EXPECT_FALSE(timing.tick_timer_running) << broken;
        EXPECT_EQ(measure_wait(8), 66666) << broken;
        stop_tick_timer();
        EXPECT_EQ(fake_calls_of(OP_TICK_STOP).size(), broken == 0 ? 0u : 1u);
    }
}
