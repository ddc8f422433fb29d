// The real binary, end to end: texts, statuses, frames on a pseudo-terminal
// and in a recording. Pulse lengths are checked exactly on the fake platform;
// here a shared machine may delay a pulse now and then, so frames are checked
// by what cannot vary: the line changes and their order, the bytes.
#include "e2e.h"

#include <gtest/gtest.h>

#include <cstdio>

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
    RunResult r = run_tarvik({"walk_forward", "-port", pty.name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_warnings(r.out), "");
    EXPECT_EQ(read_master(pty), std::string(1, '\0')); // the wake-up byte, once
    EXPECT_TRUE(frames_of_widths(r.ioctls, {8}));

    r = run_tarvik({"0x3aa", "-nowakeup", "-port", pty.name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_master(pty), "");
    EXPECT_TRUE(frames_of_widths(r.ioctls, {12}));
    close_pty(pty);
}

TEST(Program, RecordingHoldsTheFrame) {
    struct Case {
        std::vector<std::string> args;
        int bits;
    } cases[] = {
        {{"walk_forward"}, 8},
        {{"stop", "-v2"}, 12},
        {{"0x0", "-pet"}, 12},
        {{"master_program", "-mmtimer", "-nowakeup"}, 8},
    };
    std::string vcd = temp_path("frame.vcd");
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("-port");
        args.push_back(vcd);
        RunResult r = run_tarvik(args);
        EXPECT_EQ(r.status, 0);
        std::vector<std::int64_t> wakeups;
        EXPECT_TRUE(frames_of_widths(parse_vcd(read_file(vcd), &wakeups), {c.bits})) << args[0];
        EXPECT_EQ(wakeups.size(), args.size() > 4 ? 0u : 1u);
    }
    std::remove(vcd.c_str());
}
