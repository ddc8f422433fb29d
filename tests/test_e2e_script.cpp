// The real binary playing scripts.
#include "e2e.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

namespace {

std::string script_file(const std::string& text) {
    std::string path = temp_path("script.txt");
    write_file(path, text);
    return path;
}

} // namespace

TEST(ProgramScript, PlaysToAPseudoTerminalWithOneWakeup) {
    Pty pty = open_pty();
    std::string script = script_file("# three frames\r\n20 walk_forward\r\n10 0x3aa\r\n\r\n5\r\n");
    RunResult r = run_tarvik({"-script", script, "-port", pty.name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_warnings(r.out), "");
    EXPECT_EQ(read_master(pty), std::string(1, '\0'));
    EXPECT_TRUE(frames_of_widths(r.ioctls, {8, 8, 8}));
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
    RunResult r = run_tarvik({"-script", script, "-v2", "-nowakeup", "-port", vcd});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_warnings(r.out), "tarvik: unrecognized command: nosuch\n");
    LineChanges changes = parse_vcd(read_file(vcd));
    const std::vector<int> widths(101, 12);
    ASSERT_TRUE(frames_of_widths(changes, widths));
    // Gaps between frames are at least the delays (a frame ends at a break off).
    for (std::size_t i = 1; i < 100; ++i) {
        std::size_t lead_in = frame_start(widths, i);
        EXPECT_GE(changes[lead_in].first - changes[lead_in - 1].first, 1000000) << i;
    }
    std::size_t last = frame_start(widths, 100);
    EXPECT_GE(changes[last].first - changes[last - 1].first, 70000000); // 30 ms, then 40 ms
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
