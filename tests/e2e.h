// Running the real tarvik binary against pseudo-terminals and files.
#pragma once

#include "files.h"
#include "frames.h"

#include <string>
#include <vector>

struct Pty {
    int master = -1;
    int slave = -1; // held open by the test so the line never hangs up
    std::string name;
};

Pty open_pty();
void close_pty(Pty& pty);
// Everything the program wrote to the port so far.
std::string read_master(const Pty& pty);

struct RunResult {
    int status;
    std::string out;
    std::string err;
    LineChanges ioctls; // break ioctls seen by the recorder, in ns
};

// A program started and not yet waited for.
struct Running {
    int pid;
    int out_fd;
    int in_fd; // the program's standard input, when kept open
    std::string log;
    std::string err; // file holding its standard error
};
Running start_command(const std::vector<std::string>& argv, const std::string& stdin_text = "",
                      bool record = true, bool keep_stdin = false);
RunResult finish(Running& running);

// Runs argv[0] (a path) with the arguments, standard input and output
// captured, and, when record is set, the ioctl recorder preloaded.
RunResult run_command(const std::vector<std::string>& argv, const std::string& stdin_text = "",
                      bool record = true);
// Runs the tarvik binary so.
RunResult run_tarvik(const std::vector<std::string>& args, const std::string& stdin_text = "");

// How much slower than native the programs run: 1, or the factor given in
// TARVIK_TEST_SLOWDOWN (set when the suite runs under valgrind).
int slowdown();
// Waits (up to ten seconds, times the slowdown) until the program has written
// its wake-up byte to the pseudo-terminal.
bool wait_for_wakeup(const Pty& pty);

// The host of a virtual machine now and then stops the whole guest for a few
// milliseconds, which spoils a frame whatever the program does (see
// docs/timing.md). A run that sends frames is made again, at most twice,
// while `sound` finds its frames spoiled; the test then judges the last run.
template <typename Run, typename Sound> RunResult run_until_sound(Run run, Sound sound) {
    RunResult r = run();
    for (int again = 0; again < 2 && !sound(r); ++again)
        r = run();
    return r;
}
// Exactly count frames, every pulse within a quarter unit of its length.
bool frames_sound(const LineChanges& changes, std::size_t count);

// A file of expected output in tests/expected.
std::string expected_text(const std::string& name);

// Output without the priority warnings a non-root user gets.
std::string without_warnings(const std::string& out);
