#include "fake_platform.h"
#include "frames.h"
#include "main_on_fake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Outcome {
    int status;
    std::string printed;
    std::vector<DecodedFrame> frames;
    std::vector<std::string> opened;
    std::size_t wakeups;
};

Outcome run(const std::vector<std::string>& args, const FakeConfig& config = FakeConfig()) {
    Outcome o;
    o.status = run_main_on_fake(args, config, &o.printed);
    o.frames = decode_frames(fake_line_changes(), config.frequency / 1200.0);
    for (const FakeCall& c : fake_calls_of(OP_OPEN))
        o.opened.push_back(c.text);
    o.wakeups = fake_calls_of(OP_WRITE_BYTE).size();
    return o;
}

} // namespace

TEST(CommandLine, ResolvesOptionsAndCodesLikeTheWindowsBuild) {
    struct Case {
        std::vector<std::string> args;
        std::uint32_t code;
        int bits;
        const char* port;
    } cases[] = {
        {{"walk_forward", "-port", "P"}, 0x86, 8, "P"},
        {{"stop", "-v2", "-port", "P"}, 0x3AA, 12, "P"}, // options before resolution
        {{"0x1a0", "-port", "P"}, 0x1A0, 12, "P"},       // above 0xFF moves model 1 to 2
        {{"0x1a0", "-pet", "-port", "P"}, 0x1A0, 12, "P"},
        {{"0x86", "-v2", "-port", "P"}, 0x086, 12, "P"},
        {{"0xZZ", "-port", "P"}, 0, 8, "P"},
        {{"0x", "-port", "P"}, 0, 8, "P"},
        {{"0xFFFFFFFF", "-port", "P"}, 0xFF, 8, "P"}, // -1 is not above 0xFF
        {{"0x-5", "-port", "P"}, 0xFB, 8, "P"},
        {{"0x0x86", "-port", "P"}, 0x86, 8, "P"},
        {{"0x0x", "-port", "P"}, 0, 8, "P"},
        {{"0x123456789", "-port", "P"}, 0x789, 12, "P"}, // low 32 bits, 12-bit frame
        {{"0x 7f", "-port", "P"}, 0x7F, 8, "P"},
        {{"stop", "-port"}, 0x8E, 8, "COM1"}, // the default port
        {{"stop", "-port", "COM3", "-port", "COM4"}, 0x8E, 8, "COM4"},
        {{"stop", "-v2", "-pet", "-port", "P"}, 0x28E, 12, "P"},
        {{"stop", "-port", "-v2"}, 0x8E, 8, "-v2"},
        {{"-"}, 0x8F, 8, "COM1"},
        {{"stop", "-v2", "-x", "-port", "P", "junk"}, 0x3AA, 12, "P"},
        {{"D3_walking", "-v2", "-port", "P"}, 0x303, 12, "P"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        Outcome o = run(c.args);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.printed, "");
        ASSERT_EQ(o.frames.size(), 1u);
        EXPECT_EQ(o.frames[0].code, c.code);
        EXPECT_EQ(o.frames[0].bits, c.bits);
        EXPECT_TRUE(o.frames[0].well_formed);
        EXPECT_EQ(o.opened, std::vector<std::string>{c.port});
        EXPECT_EQ(o.wakeups, 1u);
    }
}

TEST(CommandLine, MessagesAndExitStatuses) {
    FakeConfig coarse_timer;
    coarse_timer.min_period_ms = 2;
    FakeConfig no_counter;
    no_counter.has_counter = false;
    FakeConfig no_port;
    no_port.open_fails = true;
    FakeConfig no_caps;
    no_caps.caps_fail = true;
    FakeConfig no_rights; // the program warns and sends the frame all the same
    no_rights.process_error = 13;
    struct Case {
        std::vector<std::string> args;
        FakeConfig config;
        int status;
        std::string printed;
        bool opens;
    } cases[] = {
        {{"-h", "-v2"}, {}, 1, "tarvik: unrecognized command: -h\n", false},
        {{"-commands", "-port", "P"}, {}, 1, "tarvik: unrecognized command: -commands\n", false},
        {{"0X86"}, {}, 1, "tarvik: unrecognized command: 0X86\n", false},
        {{"walk_forward", "-v2"}, {}, 1, "tarvik: unrecognized command: walk_forward\n", false},
        {{"-script"}, {}, 1, "tarvik: missing script file name after -script\n", false},
        {{"nosuch", "-mmtimer"},
         coarse_timer,
         1,
         "warning: the multimedia timer resolution is 2, which renders them useless\n"
         "tarvik: unrecognized command: nosuch\n",
         false},
        {{"stop", "-mmtimer", "-port", "P"}, no_caps, 0, "", true},
        {{"stop", "-port", "P"},
         no_rights,
         0,
         "Warning: cannot set the process realtime priority class: err=13\n",
         true},
        {{"stop", "-port", "P"},
         no_counter,
         1,
         "high resolution timer not supported. giving up.\n",
         false},
        {{"stop", "-port", "P"}, no_port, 1, "error opening port\n", true},
        {{"-script", "s.txt", "-port", "P"}, no_port, 1, "error opening port\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        Outcome o = run(c.args, c.config);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.printed, c.printed);
        EXPECT_EQ(o.opened.size(), c.opens ? 1u : 0u);
    }
}

TEST(CommandLine, WakeupOncePerRunAndTimerModeChoice) {
    Outcome woken = run({"stop", "-port", "P"});
    auto calls = fake_calls();
    // The zero byte and its 100 ms pause come before the frame's first change.
    std::size_t write_at = 0, sleep_at = 0, first_break = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op == OP_WRITE_BYTE)
            write_at = i;
        if (calls[i].op == OP_SLEEP && calls[i].value == 100)
            sleep_at = i;
        if (calls[i].op == OP_BREAK_ON && first_break == 0)
            first_break = i;
    }
    EXPECT_EQ(calls[write_at].value, 0);
    EXPECT_LT(write_at, sleep_at);
    EXPECT_LT(sleep_at, first_break);
    EXPECT_EQ(calls.back().op, OP_CLOSE);

    Outcome quiet = run({"stop", "-nowakeup", "-port", "P"});
    EXPECT_EQ(quiet.wakeups, 0u);
    EXPECT_TRUE(fake_calls_of(OP_SLEEP).empty());

    run({"stop", "-mmtimer", "-port", "P"});
    EXPECT_EQ(fake_calls_of(OP_TICK_START).size(), 1u);
    FakeConfig coarse;
    coarse.min_period_ms = 16;
    run({"stop", "-mmtimer", "-port", "P"}, coarse);
    EXPECT_TRUE(fake_calls_of(OP_TICK_START).empty());
}
