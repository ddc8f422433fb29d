// The real binary, end to end: texts, statuses, frames on a pseudo-terminal
// and in a recording. Pulse lengths are checked exactly on the fake platform;
// here a shared machine may delay a pulse now and then, so frames are checked
// by what they decode to.
#include "e2e.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const double NS_PER_UNIT = 1e9 / 1200;

} // namespace

TEST(Program, UsageAndListsByteForByte) {
    struct Case {
        std::vector<std::string> args;
        const char* file;
    } cases[] = {
        {{}, "usage.txt"},
        {{"/?"}, "usage.txt"},
        {{"--help"}, "usage.txt"},
        {{"-commands"}, "commands.txt"},
        {{"-commandsv2"}, "commandsv2.txt"},
        {{"-commandspet"}, "commandspet.txt"},
    };
    for (const Case& c : cases) {
        RunResult r = run_tarvik(c.args);
        EXPECT_EQ(r.status, 0) << c.file;
        EXPECT_EQ(r.out, expected_text(c.file)) << c.file;
    }
}

TEST(Program, ResolutionErrorsAndMissingPort) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {{"-h", "-v2"}, 1, "tarvik: unrecognized command: -h\n"},
        {{"Stop", "-port", "/nonexistent/tty"}, 1, "tarvik: unrecognized command: Stop\n"},
        {{"-script"}, 1, "tarvik: missing script file name after -script\n"},
        {{"stop", "-port", "/nonexistent/tty"}, 1, "error opening port\n"},
        {{"-script", "/nonexistent/script", "-port", "/nonexistent/tty"},
         1,
         "error opening port\n"},
    };
    for (const Case& c : cases) {
        RunResult r = run_tarvik(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_TRUE(r.ioctls.empty());
    }
}

TEST(Program, FrameOnAPseudoTerminal) {
    Pty pty = open_pty();
    std::string arrived;
    RunResult r = run_until_sound(
        [&] {
            RunResult run = run_tarvik({"walk_forward", "-port", pty.name});
            arrived = read_master(pty);
            return run;
        },
        [](const RunResult& run) { return frames_sound(run.ioctls, 1); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_warnings(r.out), "");
    EXPECT_EQ(arrived, std::string(1, '\0')); // the wake-up byte, once

    // Exactly the frame's switches, in order: on, then (off, on) per bit, off.
    ASSERT_EQ(r.ioctls.size(), 18u);
    for (std::size_t i = 0; i < r.ioctls.size(); ++i)
        EXPECT_EQ(r.ioctls[i].second, i % 2 == 0 && i != 17) << i;
    auto frames = decode_frames(r.ioctls, NS_PER_UNIT);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, 0x86u);

    r = run_until_sound(
        [&] {
            return run_tarvik({"0x3aa", "-nowakeup", "-port", pty.name});
        },
        [](const RunResult& run) { return frames_sound(run.ioctls, 1); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_master(pty), "");
    frames = decode_frames(r.ioctls, NS_PER_UNIT);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, 0x3AAu);
    EXPECT_EQ(frames[0].bits, 12);
    close_pty(pty);
}

TEST(Program, RecordingDecodesBackToTheCode) {
    struct Case {
        std::vector<std::string> args;
        std::uint32_t code;
        int bits;
        int units;
    } cases[] = {
        {{"walk_forward"}, 0x86, 8, 33},
        {{"stop", "-v2"}, 0x3AA, 12, 50},
        {{"0x0", "-pet"}, 0, 12, 32},
        {{"master_program", "-mmtimer", "-nowakeup"}, 0x90, 8, 30},
    };
    std::string vcd = temp_path("frame.vcd");
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("-port");
        args.push_back(vcd);
        RunResult r = run_until_sound(
            [&] { return run_tarvik(args); },
            [&](const RunResult&) { return frames_sound(parse_vcd(read_file(vcd)), 1); });
        EXPECT_EQ(r.status, 0);
        std::vector<std::int64_t> wakeups;
        auto frames = decode_frames(parse_vcd(read_file(vcd), &wakeups), NS_PER_UNIT);
        ASSERT_EQ(frames.size(), 1u) << args[0];
        EXPECT_EQ(frames[0].code, c.code) << args[0];
        EXPECT_EQ(frames[0].bits, c.bits);
        double total = 0;
        for (double u : frames[0].units)
            total += u;
        EXPECT_NEAR(total, c.units, 0.5) << args[0];
        EXPECT_EQ(wakeups.size(), args.size() > 4 ? 0u : 1u);
    }
    std::remove(vcd.c_str());
}
