#include "../core/timing.h"
#include "../tool/script.h"
#include "fake_platform.h"
#include "files.h"
#include "frames.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

struct Played {
    int status;
    std::string printed;
    std::string trace;
};

// What the player did, in order: "sN" for N one-millisecond sleeps in a row,
// "CODE/BITS" for a frame, "msg" where something was printed.
std::string trace_of_calls() {
    std::ostringstream out;
    const std::vector<FakeCall>& calls = fake_calls();
    long printed = calls.empty() ? 0 : calls.front().printed;
    int sleeps = 0;
    LineChanges frame;
    auto emit = [&](const std::string& item) { out << (out.tellp() > 0 ? " " : "") << item; };
    auto emit_sleeps = [&]() {
        if (sleeps)
            emit("s" + std::to_string(sleeps));
        sleeps = 0;
    };
    for (const FakeCall& c : calls) {
        if (c.printed != printed) { // printed after the calls before this one
            emit_sleeps();
            emit("msg");
            printed = c.printed;
        }
        if (c.op == OP_SLEEP && c.value == 1) {
            ++sleeps;
            continue;
        }
        emit_sleeps();
        if (c.op == OP_BREAK_ON || c.op == OP_BREAK_OFF)
            frame.push_back({c.time, c.op == OP_BREAK_ON});
        if (c.op == OP_NORMAL_THREAD) {
            for (const DecodedFrame& f : decode_frames(frame, 8333.33)) {
                std::ostringstream item;
                item << std::hex << f.code << "/" << std::dec << f.bits
                     << (f.well_formed ? "" : "!");
                emit(item.str());
            }
            frame.clear();
        }
    }
    emit_sleeps();
    return out.str();
}

Played play(const std::string& text, RobotModel model = MODEL_V1) {
    std::string path = temp_path("script.txt");
    write_file(path, text);
    fake_reset();
    timing = TimingState();
    init_timing(10000000);
    testing::internal::CaptureStdout();
    Played p;
    p.status = run_script(fake_serial_port(), path.c_str(), model);
    p.trace = trace_of_calls();
    p.printed = testing::internal::GetCapturedStdout();
    std::remove(path.c_str());
    return p;
}

std::string pad(const std::string& s, std::size_t n) {
    return s + std::string(n - s.size(), ' ');
}

} // namespace

TEST(Script, LinesDelaysAndCommands) {
    struct Case {
        std::string text;
        RobotModel model;
        std::string trace;
    } cases[] = {
        {"1000 walk_forward\n500 stop\n", 1, "s1000 86/8 s500 8e/8"},
        {"100 stop\n200\n", 1, "s100 8e/8 s200 8e/8"},          // number only
        {"100 walk_forward\nstop\n", 1, "s100 86/8 s100 86/8"}, // name only
        {"30 stop\n   \t\n", 1, "s30 8e/8 s30 8e/8"},           // blanks
        {"10 stop\n\n\r\n#5 walk_forward\n", 1, "s10 8e/8"},    // skipped lines
        {"10 stop\n  # not a comment\n", 1, "s10 8e/8 s10 8e/8"},
        {"0 0x3aa\n", 1, "s1 aa/8"},
        {"0 0x3aa\n", 2, "s1 3aa/12"},
        {"0 0x186\n", 1, "s1 86/8"}, // no switch to 12 bits in scripts
        {"7 stop\n", 3, "s7 28e/12"},
        {"100 no_such_command\n50 0xZZ\n0 0x0\n", 1, "s100 msg s50 0/8 s1 0/8"},
        {"50 walk_forward\n50 0xZZ\n", 1, "s50 86/8 s50 86/8"}, // the code persists
        {"5 0xZZ\n", 1, "s5 0/8"},                              // ... from 0 at the start
        {"10 stop\r\n20 walk_forward\r\n", 1, "s10 8e/8 s20 86/8"},
        {"10\rstop\n", 1, "s10 8e/8"}, // a lone CR is white space
        {"10 stop\n\x1a"
         "20 walk_forward\n",
         1, "s10 8e/8"},
        {"", 1, ""},
        {"0 stop\n-5 stop\n", 1, "s1 8e/8 s1 8e/8"},
        {"100\nstop\n20 stop\n", 1, "s20 8e/8"}, // nothing to send before a token
        {"4294967306 stop\n", 1, "s10 8e/8"},    // the delay wraps at 32 bits
        {pad("5 walk_forward", 49) + "7 stop     \n", 1, "s5 86/8 s7 8e/8"}, // 60 chars
        {pad("5 walk_forward", 49) + "\n", 1, "s5 86/8"},                    // 49 chars
        {pad("5 walk_forward", 50) + "\n", 1, "s5 86/8"},             // a blank tail is no line
        {pad("5 walk_forward", 49) + "stop now\n", 1, "s5 86/8"},     // nor a tail of words
        {pad("5 walk_forward", 48) + "\n  \n", 1, "s5 86/8 s5 86/8"}, // whole: blanks repeat it
        {pad("5 walk_forward", 48) + "9 stop\n", 1, "s5 86/8"},       // pieces of 49, not 48
        {"5 stop\n#" + std::string(48, 'x') + "0 walk_forward " + std::string(60, 'y') + "\n", 1,
         "s5 8e/8"}, // a long comment, whatever its pieces hold
        {"50 walk_forward\n50 0x0x\n50 0x-0x\n50 0x0xg\n", 1,
         "s50 86/8 s50 86/8 s50 86/8 s50 86/8"}, // "0x" with no digit reads nothing
        {"5 D2_walking\n", 2, "s5 302/12"},
        {std::string("10 st\0op\n20 stop\n", 17), 1, "s10 msg s20 8e/8"}, // NUL ends the line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Played p = play(c.text, c.model);
        EXPECT_EQ(p.status, 0);
        EXPECT_EQ(p.trace, c.trace);
    }
    EXPECT_EQ(play("100 no_such_command\n").printed,
              "tarvik: unrecognized command: no_such_command\n");
}

TEST(Script, DelayRunsFromTheEndOfThePreviousFrame) {
    play("0 stop\n250 stop\n");
    LineChanges changes = fake_line_changes();
    ASSERT_EQ(changes.size(), 36u);
    std::int64_t gap = changes[18].first - changes[17].first;
    EXPECT_GE(gap, 2500000);         // 250 ms at 10 MHz
    EXPECT_LT(gap, 2500000 + 20000); // ends with the first sleep past it
}

TEST(Script, BinaryAndOverlongInputNeverOverflows) {
    std::string noise;
    for (int i = 0; i < 5000; ++i)
        noise += static_cast<char>((i * 7919) % 256);
    noise += "\n1 " + std::string(300, 'x') + "\n";
    Played p = play(noise);
    EXPECT_EQ(p.status, 0);
}

#ifndef _WIN32
TEST(Script, FilesThatCannotBeRead) {
    std::string dir = temp_path("dir");
    mkdir(dir.c_str(), 0700);
    fake_reset();
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_script(fake_serial_port(), dir.c_str(), MODEL_V1), 1);
    EXPECT_EQ(run_script(fake_serial_port(), "/nonexistent/script", MODEL_V1), 1);
    // Opens, but every read fails (address 0 is not mapped): a read error,
    // not the end of the script.
    EXPECT_EQ(run_script(fake_serial_port(), "/proc/self/mem", MODEL_V1), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "tarvik: error opening file " + dir + ", errno=21\n" +
                  "tarvik: error opening file /nonexistent/script, errno=2\n" +
                  "tarvik: error reading file /proc/self/mem, errno=5\n");
    rmdir(dir.c_str());
    EXPECT_TRUE(fake_line_changes().empty());
}
#endif
