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

// Longest run of a program a test starts (times the slowdown below).
const int RUN_LIMIT_SECONDS = 120;

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

// What a busy machine cannot change about the frames a run sent: the number
// of line changes (break on, then per bit off and on, then off: 2 x bits + 2
// a frame, for frames of these widths) and their order. Pulse lengths are
// checked on the fake platform, where time is virtual.
bool frames_of_widths(const LineChanges& changes, const std::vector<int>& widths);
// Where frame n (from 0) of such a run starts, as an index into its changes.
std::size_t frame_start(const std::vector<int>& widths, std::size_t n);

// A file of expected output in tests/expected.
std::string expected_text(const std::string& name);

// Output without the priority warnings a non-root user gets.
std::string without_warnings(const std::string& out);
