// The script player on the fake platform: which frames go out, after which
// delays, for what a script file holds.
#include "../player/run.h"
#include "../player/script.h"
#include "fake_platform.h"
#include "files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>

namespace {

const char* FLAGS[] = {"", "", " -v2", " -pet"};

// The words of a trace that are the player's: sleeps, frames, messages.
std::string players_part(const std::string& trace) {
    std::istringstream in(trace);
    std::string word, kept;
    while (in >> word)
        if (word == "msg" || word[0] == 's' || word.find('/') != std::string::npos)
            kept += (kept.empty() ? "" : " ") + word;
    return kept;
}

// The program run with "-script FILE", FILE holding TEXT.
int run_script(const std::string& text, int model, const std::string& more, std::string* out,
               std::string* err = nullptr) {
    std::string file = temp_path("script.txt");
    write_file(file, text);
    int status = run_on_fake("-script " + file + FLAGS[model] + more, "", out, err);
    std::remove(file.c_str());
    return status;
}

// The script held in memory, as the remote plays it; what follows it is not its own.
std::string played_from_memory(const std::string& text, int model) {
    const std::string held = text + "5 0x55\n";
    fake_reset();
    RunSettings s = {"P", model, true, false, 0, nullptr, false, "", false, 0, nullptr};
    Port port;
    int status = 0;
    testing::internal::CaptureStdout(); // its messages show in the trace, as in a run
    if (begin_run(s, &port, &status))
        play_script_text(&port, held.data(), text.size(), model, nullptr);
    end_run(&port, status);
    testing::internal::GetCapturedStdout();
    return players_part(fake_trace());
}

std::string pad(const std::string& s, std::size_t n) {
    return s + std::string(n - s.size(), ' ');
}

} // namespace

TEST(Script, LinesDelaysAndCommands) {
    const std::string BOM = "\xEF\xBB\xBF";
    // clang-format off
    struct Case { std::string text; int model; std::string trace; } cases[] = {
        {"1000 walk_forward\n500 stop\n", 1, "s1000 86/8 s500 8e/8"}, {"5 D2_walking\n", 2, "s5 302/12"}, {"7 stop\n", 3, "s7 28e/12"},
        {"100 stop\n200\n", 1, "s100 8e/8 s200 8e/8"}, {"100 walk_forward\nstop\n", 1, "s100 86/8 s100 86/8"}, // number or name only
        {"30 stop\n   \t\n\r\n20\n", 1, "s30 8e/8 s20 8e/8"}, // blank lines are skipped, as are comments
        {"10 stop\n\n\r\n#5 walk_forward\n  # indented\n\t#5 walk_forward\n", 1, "s10 8e/8"},
        {BOM + "5 stop\n", 1, "s5 8e/8"}, {BOM.substr(0, 2) + "5 stop\n", 1, ""}, // a byte-order mark is no part of the first line,
        {"5 stop\n" + BOM + "7 walk_forward\n", 1, "s5 8e/8 s5 8e/8"},           // but a part of one is, as is one after the start
        {"0 0x3aa\n", 1, "s1 aa/8"}, {"0 0x3aa\n", 2, "s1 3aa/12"}, {"0 0x186\n", 1, "s1 86/8"}, // no switch to 12 bits
        {"100 no_such_command\n50 0xZZ\n0 0x0\n", 1, "s100 msg s50 0/8 s1 0/8"},
        {"50 walk_forward\n50 0xZZ\n", 1, "s50 86/8 s50 86/8"}, {"5 0xZZ\n", 1, "s5 0/8"}, // the code persists, from 0
        {"50 walk_forward\n50 0x0x\n50 0x-0x\n50 0x0xg\n", 1, "s50 86/8 s50 86/8 s50 86/8 s50 86/8"}, // "0x" with no digit
        {"10 stop\r\n20 walk_forward\r\n", 1, "s10 8e/8 s20 86/8"}, {"10\rstop\n", 1, "s10 8e/8"}, // a lone CR is white space
        {"10 stop\n\x1a" "20 walk_forward\n", 1, "s10 8e/8"}, {"", 1, ""}, {"0 stop\n-5 stop\n", 1, "s1 8e/8 s1 8e/8"},
        {"100\nstop\n20 stop\n", 1, "s20 8e/8"}, // nothing to send before a token
        {"4294967306 stop\n", 1, "s10 8e/8"},    // the delay wraps at 32 bits
        {std::string("10 st\0op\n20 stop\n", 17), 1, "s10 msg s20 8e/8"}, // NUL ends the line
        // Lines are read in pieces of 49 characters.
        {pad("5 walk_forward", 49) + "7 stop     \n", 1, "s5 86/8 s7 8e/8"}, {pad("5 walk_forward", 49) + "\n", 1, "s5 86/8"},
        {pad("5 walk_forward", 50) + "\n", 1, "s5 86/8"},                // a blank tail is no line
        {pad("5 walk_forward", 49) + "stop now\n", 1, "s5 86/8"},        // nor a tail of words
        {pad("5 stop", 49) + "# 9 walk_forward\n", 1, "s5 8e/8"},        // nor a commented tail
        {std::string(49, ' ') + "5 stop\n", 1, "s5 8e/8"},               // a line blank at first
        {pad("5 walk_forward", 48) + "\n200\n", 1, "s5 86/8 s200 86/8"}, {pad("5 walk_forward", 48) + "9 stop\n", 1, "s5 86/8"},
        {"5 stop\n#" + std::string(48, 'x') + "0 walk_forward " + std::string(60, 'y') + "\n", 1, "s5 8e/8"}, // a long comment
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string out, word, sent, checked;
        EXPECT_EQ(run_script(c.text, c.model, " -nowakeup -port P", &out), 0);
        std::string trace = players_part(fake_trace());
        EXPECT_EQ(trace, c.trace);
        EXPECT_EQ(played_from_memory(c.text, c.model), trace);
        // A check reads the same lines and shows the frames sent, opening nothing.
        for (std::istringstream words(trace); words >> word;)
            if (word.find('/') != std::string::npos)
                sent += (sent.empty() ? "" : " ") + word;
        run_script(c.text, c.model, " -nowakeup -check -port P", &out);
        EXPECT_EQ(fake_trace(), "");
        const std::regex frame_line("line \\d+: .*\\(0x(\\w+)\\): ([01]+)\n");
        for (std::sregex_iterator m(out.begin(), out.end(), frame_line), end; m != end; ++m)
            checked += (checked.empty() ? "" : " ") + (*m)[1].str() + "/" +
                       std::to_string((*m)[2].length());
        EXPECT_EQ(checked, sent);
    }
    std::string out; // the last line without its line feed, as some editors leave it
    EXPECT_EQ(
        run_script("1020 walk_forward\n30 nosuch\n5 0x1a1", 1, " -nowakeup -check -port P", &out),
        1);
    EXPECT_EQ(out, "line 1: 1.020 s: walk_forward (0x86): 10000110\n"
                   "tarvik: unrecognized command: nosuch\n"
                   "line 3: 1.083 s: 0x1a1 (0xa1): 10100001\n"
                   "2 frames; unrecognized: nosuch (line 2); 1.110 s in all\n");
    EXPECT_EQ(run_on_fake("0x1a1 -check -port P", "", &out), 0); // one command, 12 bits
    EXPECT_EQ(out, "0.100 s: 0x1a1 (0x1a1): 000110100001\n1 frame; 0.137 s in all\n");
}

// What may be wrong with a line: the remote's check hears it line by line, -check says it on
// standard error (for an unknown name only the hint), both count the same frames and time.
TEST(Script, ProblemsOfLinesAsTheRemoteAndCheckTellThem) {
    const std::string file = temp_path("script.txt");
    const std::string NO_DELAY = "no delay before \"right_arm_up\": ",
                      WRITE = " (write \"0 right_arm_up\")\n";
    // clang-format off
    // told: to the remote's check; err: -check's, after "tarvik: FILE line " (null: as told)
    struct Case { std::string text; int model, status, frames; std::string told; const char* err = nullptr; } cases[] = {
        {"10 turn_left\nright_arm_up\n", 1, 0, 2, "2: " + NO_DELAY + "the line repeats turn_left" + WRITE},
        {"right_arm_up now\n10 stop\n", 1, 0, 1, "1: " + NO_DELAY + "nothing before it to repeat, the line is skipped" + WRITE},
        {"200\n10 stop\n  300 \n", 1, 0, 2, "1: \"200\" has no command and nothing before it to repeat: the line is skipped\n"
         "3: \"300\" has no command: the line repeats stop\n"},
        {pad("5 walk_forward", 49) + "7 stop\n", 1, 0, 2, "1: longer than 49 characters: the player reads the rest as lines of their own\n"},
        {"5 wlakforward\n5 walk_forward\n", 1, 1, 1, "1: unrecognized command: wlakforward (did you mean walk_forward?)\n",
         "1: did you mean walk_forward?\n"},
        {"5 walk_forward\n", 2, 1, 0, "1: unrecognized command: walk_forward (walk_forward is a MekTarvik v1 command)\n",
         "1: walk_forward is a MekTarvik v1 command (drop -v2)\n"},
        {"5 D9_walking\n5 xyzzy\n", 2, 1, 0, "1: unrecognized command: D9_walking (did you mean D0_walking?)\n"
         "2: unrecognized command: xyzzy\n", "1: did you mean D0_walking?\n"},
        {"\xEF\xBB\xBF# " + std::string(60, 'x') + "\n  \n\t# 5 x\n5 stop\n", 1, 0, 1, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string told, out, err, expected_err, line;
        int frames = -1;
        double seconds = -1;
        auto collect = [](void* told, int line, const char* message) {
            *static_cast<std::string*>(told) += std::to_string(line) + ": " + message + "\n";
        };
        EXPECT_EQ(check_script_text(c.text.data(), c.text.size(), c.model, true, collect, &told,
                                    &frames, &seconds),
                  c.status);
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(run_script(c.text, c.model, " -check", &out, &err), c.status);
        for (std::istringstream lines(c.err ? c.err : c.told); std::getline(lines, line);)
            expected_err += "tarvik: " + file + " line " + line + "\n";
        EXPECT_EQ(err, expected_err);
        char summary[64];
        std::snprintf(summary, sizeof summary, "(^|\\n)%d frames?;.* %.3f s in all\n$", frames,
                      seconds);
        EXPECT_TRUE(std::regex_search(out, std::regex(summary))) << out;
    }
    // Playing says a line without a delay and a hint; a line with only a delay is a plain repeat.
    std::string out, err;
    EXPECT_EQ(run_script("10 turn_left\nright_arm_up\n200\n5 walkforward\n", 1,
                         " -nowakeup -port P", &out, &err),
              0);
    EXPECT_EQ(out, "tarvik: unrecognized command: walkforward\n");
    EXPECT_EQ(err, "tarvik: " + file + " line 2: " + NO_DELAY + "the line repeats turn_left" +
                       WRITE + "tarvik: " + file + " line 4: did you mean walk_forward?\n");
}
