// The recording port on the fake platform, where time is virtual: whole
// files, byte for byte.
#include "fake_platform.h"
#include "files.h"
#include "main_on_fake.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(Recording, WholeFilesByteForByte) {
    const std::string golden = read_file(TARVIK_TESTS_DIR "/expected/0x5.vcd");
    const std::string header = golden.substr(0, golden.find("#100\n"));
    FakeConfig interrupted; // Ctrl-C in the wake-up pause: closed with the mark ended
    interrupted.interrupt_at_sleep = 1;
    FakeConfig no_file;
    no_file.open_fails = true;
    struct Case {
        std::vector<std::string> args;
        FakeConfig config;
        int status;
        std::string file;
    } cases[] = {
        // The wake-up mark from the byte to the frame's first change, then
        // 0x05 in 8 bits, every change at its exact time (100 ns a tick).
        {{"0x5", "-port", "x.vcd"}, {}, 0, golden},
        {{"stop", "-port", "x.vcd"}, interrupted, 130, header + "#100\n1\"\n#100000200\n0\"\n"},
        {{"-script", "never-read.txt", "-port", "x.vcd"}, no_file, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::string printed;
        EXPECT_EQ(run_main_on_fake(c.args, c.config, &printed), c.status);
        EXPECT_EQ(fake_file("x.vcd"), c.file);
    }
}

// Past the first second too, every time is a whole number of counter ticks
// (100 ns each at the fake's 10 MHz).
TEST(Recording, TimesStayExactAfterSeconds) {
    std::string script = temp_path("late.txt");
    write_file(script, "1100 0x0\n");
    std::string printed;
    EXPECT_EQ(run_main_on_fake({"-script", script, "-nowakeup", "-port", "x.vcd"}, FakeConfig(),
                               &printed),
              0);
    std::string file = fake_file("x.vcd");
    std::size_t at = 0, times = 0;
    while ((at = file.find("\n#", at)) != std::string::npos) {
        long long ns = std::stoll(file.substr(at + 2));
        EXPECT_EQ(ns % 100, 0) << ns;
        times += ns > 1100000000;
        ++at;
    }
    EXPECT_EQ(times, 18u); // the frame's changes, all after the delay
    std::remove(script.c_str());
}
