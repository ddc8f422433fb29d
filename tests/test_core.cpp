// The core's pure parts: command names and timing values.
#include "../core/commands.h"
#include "../core/timing.h"
#include "fake_platform.h"

#include <gtest/gtest.h>

#include <string>

TEST(Commands, BothFlavoursResolveAsDesigned) {
    // The program's lookup: first equal entry, message on 0; the library's decode: last, any model
    // → pet.
    // clang-format off
    struct Case { const char* name; RobotModel model; command_code lookup, decode; } cases[] = {
        {"stop", 1, 0x8E, 0x8E}, {"stop", 2, 0x3AA, 0x3AA}, {"stop", 3, 0x28E, 0x28E}, {"stop", 0, 0, 0x28E},
        {"jump", 7, 0, 0x2E6}, {"Stop", 2, 0, 0}, {"stop ", 1, 0, 0}, {"", 3, 0, 0}, {"-", 1, 0x8F, 0xFF},
        {"walk_forward", 1, 0x86, 0x86}, {"walk_forward", 2, 0, 0}, {"turn_right", 1, 0x80, 0x80},
        {"raise_arm_throw", 1, 0xFC, 0xFC}, {"wake_up", 3, 0x2C1, 0x2C1}, {"sleep", 3, 0x2C1, 0x2C1},
        {"rock", 3, 0x2E8, 0x2E8}, {"_upper_body_only", 2, 0x318, 0x318}, {"_walking", 2, 0x300, 0x300},
        {"D2_walking", 2, 0x302, 0x302}, {"D7_head_only", 2, 0x34F, 0x34F}, {"D1stop", 2, 0x3AB, 0x3AB},
        {"D0stop", 2, 0x3AA, 0x3AA}, {"D3_head_and_upper_body", 2, 0x323, 0x313}, {"_head_and_upper_body", 2, 0x320, 0x310},
        // A direction is a digit 0-7, never another frame.
        {"D9_walking", 2, 0, 0}, {"DX_walking", 2, 0, 0}, {"Dstop", 2, 0, 0}, {"D", 2, 0, 0}, {"D\x80stop", 2, 0, 0}, {"D3", 2, 0, 0},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " model " + std::to_string(c.model));
        testing::internal::CaptureStdout(); // only the program's lookup speaks
        EXPECT_EQ(lookup_command(c.name, c.model), c.lookup);
        EXPECT_EQ(decode_command(c.name, c.model), c.decode);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  c.lookup ? "" : std::string("tarvik: unrecognized command: ") + c.name + "\n");
    }
    // Every model 2 name is its own code, but the duplicated one.
    for (const CommandRow& row : v2_commands)
        EXPECT_TRUE(lookup_command(row.name, MODEL_V2) == row.code ||
                    std::string(row.name) == "_head_and_upper_body")
            << row.name;
}

// The ticks a wait of UNITS took, after BEFORE ticks spent since the last.
static std::int64_t waited(std::int64_t before, int units) {
    fake_advance(before);
    std::int64_t anchor = timing.last_sample;
    wait_units(units);
    return timing.last_sample - anchor;
}

// Exact doubles: every build must round as plain double arithmetic does
// (the 32-bit Windows build once rounded twice through the x87 unit).
TEST(Timing, DerivedValuesAndWaitLengths) {
    // clang-format off
    struct Row { std::int64_t frequency; double unit, late; std::int64_t period, one, eight; } rows[] = {
        {10000000, 8333.333333333334, 1599.9999999999998, 9765, 8333, 66666},
        {3579545, 2982.954166666667, 572.7271999999999, 3495, 2982, 23863},
        {4056250, 3380.2083333333335, 648.99999999999989, 3961, 3380, 27041}};
    // clang-format on
    for (const Row& r : rows) {
        fake_reset();
        timing = TimingState();
        init_timing(r.frequency);
        EXPECT_EQ(timing.unit_ticks, r.unit) << r.frequency;
        EXPECT_EQ(timing.late_threshold_ticks, r.late) << r.frequency;
        EXPECT_EQ(timing.tick_period_ticks, r.period);
        // From the reading before it: time between waits is absorbed, never made up.
        timing.last_sample = plat_counter();
        EXPECT_EQ(waited(r.one / 2, 1), r.one);
        EXPECT_EQ(waited(0, 8), r.eight);
        EXPECT_EQ(waited(r.eight, 1), r.eight + 1);
    }
}

TEST(Timing, TickModeCreditsOrWaitsByTheLateThreshold) {
    fake_reset();
    timing = TimingState();
    init_timing(10000000);
    timing.use_mm_timer = 1;
    timing.tick_timer_running = true;
    // The first reading's lateness; the trace; the next expected tick, from the first reading.
    // clang-format off
    struct Step { std::int64_t late; std::string trace; std::int64_t expected_tick; } steps[] = {
        {1599, "", 9765 - 1599}, // credited: the next tick is one period on
        {1600, "t1", 1},         // waited for, and taken from the counter
        {-100000, "t1", 100000}}; // not yet past it: nothing changes
    // clang-format on
    for (const Step& s : steps) {
        timing.last_sample = plat_counter();
        std::int64_t first = timing.last_sample + 1;
        timing.expected_tick = first - s.late;
        wait_units(1);
        EXPECT_EQ(fake_trace(), s.trace) << s.late;
        EXPECT_EQ(timing.expected_tick - first, s.expected_tick) << s.late;
    }
    // Eight units are eight single-unit waits: 8 x 8333 rather than 66666.
    timing.last_sample = plat_counter();
    timing.expected_tick = timing.last_sample + 10000000;
    EXPECT_EQ(waited(0, 8), 8 * 8333);
}
