// The real binary on a LIRC transmitter (a stand-in: these machines have
// none) and playing a script from standard input.
#include "e2e.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

// Runs tarvik with the LIRC stand-in preloaded for the given file.
RunResult run_on_transmitter(const std::string& device, std::vector<std::string> args,
                             const char* error = nullptr) {
    setenv("LD_PRELOAD", TARVIK_LIRC_STANDIN, 1);
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    setenv("TARVIK_FAKE_LIRC", device.c_str(), 1);
    if (error)
        setenv("TARVIK_FAKE_LIRC_ERROR", error, 1);
    args.insert(args.begin(), TARVIK_BINARY);
    RunResult r = run_command(args, "", false);
    unsetenv("LD_PRELOAD");
    unsetenv("ASAN_OPTIONS");
    unsetenv("TARVIK_FAKE_LIRC");
    unsetenv("TARVIK_FAKE_LIRC_ERROR");
    return r;
}

std::vector<std::uint32_t> lengths_in(const std::string& path) {
    std::string bytes = read_file(path);
    std::vector<std::uint32_t> values(bytes.size() / 4);
    if (!values.empty())
        std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

} // namespace

TEST(ProgramTransmitter, FramesAsOneWriteOfPulseLengths) {
    std::string device = temp_path("lirc0");
    write_file(device, "");
    RunResult r = run_on_transmitter(device, {"walk_forward", "-port", device});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ""); // no priorities to raise, so no warnings either
    // 0x86: each edge rounded from the frame's start, so 833 and 834 alternate.
    std::vector<std::uint32_t> want = {6667, 3333, 833,  834, 833,  833, 834, 833, 833,
                                       834,  833,  3333, 834, 3333, 833, 834, 833};
    EXPECT_EQ(lengths_in(device), want); // 0x86, no wake-up byte before it

    std::string script = temp_path("lirc-script.txt");
    write_file(script, "0 stop\n5 D2_walking\n");
    write_file(device, "");
    r = run_on_transmitter(device, {"-script", script, "-v2", "-port", device});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lengths_in(device).size(), 50u); // two 12-bit frames

    r = run_on_transmitter(device, {"stop", "-port", device}, "5");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "error writing port\n");
    std::remove(script.c_str());
    std::remove(device.c_str());
}

TEST(ProgramTransmitter, ScriptFromStandardInputPlaysLinesAsTheyArrive) {
    std::string vcd = temp_path("stdin.vcd");
    std::remove(vcd.c_str());
    Running running =
        start_command({TARVIK_BINARY, "-script", "-", "-nowakeup", "-port", vcd}, "", false, true);
    // Whole frames reach the file between frames, never in the middle of one.
    auto changes_so_far = [&] { return parse_vcd(read_file(vcd)).size(); };
    auto wait_changes = [&](std::size_t n) {
        for (int i = 0; i < 500 * slowdown() && changes_so_far() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return changes_so_far();
    };
    ASSERT_EQ(write(running.in_fd, "0 walk_forward\n", 15), 15);
    EXPECT_EQ(wait_changes(18), 18u); // sent while the pipe is still open

    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(changes_so_far(), 18u); // nothing more until the next line
    ASSERT_EQ(write(running.in_fd, "0 stop\r\n", 8), 8);
    EXPECT_EQ(wait_changes(36), 36u);

    RunResult r = finish(running); // closing the pipe ends the script
    EXPECT_EQ(r.status, 0);
    LineChanges changes = parse_vcd(read_file(vcd));
    ASSERT_TRUE(frames_of_widths(changes, {8, 8}));
    EXPECT_GE(changes[18].first - changes[17].first, 300000000); // the gap it was told
    std::remove(vcd.c_str());
}
