// The real binary playing scripts.
#include "e2e.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

namespace {

const double NS_PER_UNIT = 1e9 / 1200;

std::string script_file(const std::string& text) {
    std::string path = temp_path("script.txt");
    write_file(path, text);
    return path;
}

} // namespace

TEST(ProgramScript, PlaysToAPseudoTerminalWithOneWakeup) {
    Pty pty = open_pty();
    std::string script = script_file("# three frames\r\n20 walk_forward\r\n10 0x3aa\r\n\r\n5\r\n");
    std::string arrived;
    RunResult r = run_until_sound(
        [&] {
            RunResult run = run_tarvik({"-script", script, "-port", pty.name});
            arrived = read_master(pty);
            return run;
        },
        [](const RunResult& run) { return frames_sound(run.ioctls, 3); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_warnings(r.out), "");
    EXPECT_EQ(arrived, std::string(1, '\0'));
    auto frames = decode_frames(r.ioctls, NS_PER_UNIT);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].code, 0x86u);
    EXPECT_EQ(frames[1].code, 0xAAu);
    EXPECT_EQ(frames[2].code, 0xAAu);
    std::remove(script.c_str());
    close_pty(pty);
}

TEST(ProgramScript, RecordingHoldsEveryFrameAndTheGaps) {
    std::string text;
    // Back to back: without rests between frames the kernel would stop the
    // realtime thread in the middle of one, once a second.
    for (int i = 0; i < 100; ++i)
        text += i % 2 ? "0 stop\n" : "0 0x555\n";
    text += "30 nosuch\n40 D7_head_only\n";
    std::string script = script_file(text);
    std::string vcd = temp_path("script.vcd");
    // A hundred frames: only a split or merged frame makes the run again.
    RunResult r = run_until_sound(
        [&] {
            return run_tarvik({"-script", script, "-v2", "-nowakeup", "-port", vcd});
        },
        [&](const RunResult&) {
            return decode_frames(parse_vcd(read_file(vcd)), NS_PER_UNIT).size() == 101;
        });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_warnings(r.out), "tarvik: unrecognized command: nosuch\n");
    LineChanges changes = parse_vcd(read_file(vcd));
    auto frames = decode_frames(changes, NS_PER_UNIT);
    ASSERT_EQ(frames.size(), 101u);
    for (std::size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(frames[i].code, i % 2 ? 0x3AAu : 0x555u) << i;
        EXPECT_EQ(frames[i].bits, 12);
    }
    EXPECT_EQ(frames[100].code, 0x34Fu);
    // Gaps between frames are at least the delays (a frame ends at a break off).
    std::vector<std::int64_t> gaps;
    for (std::size_t i = 1; i + 1 < changes.size(); ++i) // each lead-in after the first
        if (changes[i + 1].first - changes[i].first > 7 * NS_PER_UNIT && changes[i].second)
            gaps.push_back(changes[i].first - changes[i - 1].first);
    ASSERT_EQ(gaps.size(), 100u);
    for (std::size_t i = 0; i < 99; ++i)
        EXPECT_GE(gaps[i], 1000000) << i;
    EXPECT_GE(gaps[99], 70000000); // the unrecognised line's delay, then 40 ms
    std::remove(script.c_str());
    std::remove(vcd.c_str());
}

TEST(ProgramScript, FilesThatCannotBeOpenedAndPortsThatCannotBeOpened) {
    std::string dir = temp_path("scriptdir");
    mkdir(dir.c_str(), 0700);
    std::string vcd = temp_path("unused.vcd");
    RunResult r = run_tarvik({"-script", dir, "-port", vcd});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "tarvik: error opening file " + dir + ", errno=21\n");
    r = run_tarvik({"-script", "/nonexistent/s.txt", "-port", vcd});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "tarvik: error opening file /nonexistent/s.txt, errno=2\n");
    rmdir(dir.c_str());
    std::remove(vcd.c_str());

    // A FIFO would block whoever opened it: the script is never touched when
    // the port fails first.
    std::string fifo = temp_path("fifo");
    mkfifo(fifo.c_str(), 0600);
    r = run_tarvik({"-script", fifo, "-port", "/nonexistent/tty"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "error opening port\n");
    std::remove(fifo.c_str());
}
