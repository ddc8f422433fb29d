// Ports that vanish and runs that are interrupted, on the fake platform.
#include "fake_platform.h"
#include "files.h"
#include "frames.h"
#include "main_on_fake.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct Outcome {
    int status;
    std::string printed;
    std::size_t frames;
};

Outcome run(const std::vector<std::string>& args, const FakeConfig& config) {
    Outcome o;
    o.status = run_main_on_fake(args, config, &o.printed);
    o.frames = fake_calls_of(OP_RAISE_PROCESS).size();
    return o;
}

} // namespace

TEST(Failures, VanishedDeviceEndsTheRunWhileOtherBreakErrorsAreSilent) {
    std::string script = temp_path("five.txt");
    write_file(script, "0 stop\n0 stop\n0 stop\n0 stop\n0 stop\n");
    struct Case {
        std::vector<std::string> args;
        int error, from;
        int status;
        const char* printed;
        std::size_t frames;
    } cases[] = {
        // The device goes in the second frame (18 changes each): the script stops.
        {{"-script", script, "-port", "P"}, 5, 20, 1, "error writing port\n", 2},
        {{"-script", script, "-port", "P"}, 25, 1, 0, "", 5}, // cannot break: silent
        {{"stop", "-port", "P"}, 5, 18, 1, "error writing port\n", 1},
        {{"stop", "-port", "P"}, 25, 1, 0, "", 1},
    };
    for (const Case& c : cases) {
        FakeConfig config;
        config.break_error = c.error;
        config.break_fails_from = c.from;
        Outcome o = run(c.args, config);
        EXPECT_EQ(o.status, c.status) << c.args[0] << " " << c.error;
        EXPECT_EQ(o.printed, c.printed);
        EXPECT_EQ(o.frames, c.frames);
        EXPECT_EQ(fake_calls().back().op, OP_CLOSE); // the port is closed all the same
    }
    std::remove(script.c_str());
}

TEST(Failures, InterruptionFinishesTheFrameAndClosesThePort) {
    std::string script = temp_path("long.txt");
    write_file(script, "10 stop\n10 walk_forward\n10 stop\n");
    struct Case {
        std::vector<std::string> args;
        int at_sleep;
        std::size_t frames;
    } cases[] = {
        {{"-script", script, "-nowakeup", "-port", "P"}, 15, 1}, // in the second delay
        {{"-script", script, "-port", "P"}, 1, 0},               // in the wake-up pause
        {{"stop", "-port", "P"}, 1, 0},
    };
    for (const Case& c : cases) {
        FakeConfig config;
        config.interrupt_at_sleep = c.at_sleep;
        Outcome o = run(c.args, config);
        EXPECT_EQ(o.status, 130);
        EXPECT_EQ(o.printed, "");
        EXPECT_EQ(o.frames, c.frames);
        auto changes = fake_line_changes();
        EXPECT_TRUE(changes.empty() || !changes.back().second); // the line is left off
        EXPECT_EQ(fake_calls().back().op, OP_CLOSE);
        EXPECT_EQ(fake_calls_of(OP_NORMAL_THREAD).size(), c.frames);
    }
    std::remove(script.c_str());
}
