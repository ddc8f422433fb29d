// Running the real binaries against pseudo-terminals and files. A busy
// machine can delay any pulse, so runs are checked only for what cannot
// vary: statuses, texts, bytes, files, and the order of line changes.
#pragma once

#include "files.h"

#include <functional>
#include <string>
#include <vector>

struct Pty {
    int master = -1;
    int slave = -1; // held open by the test so the line never hangs up
    std::string name;
};
Pty open_pty();
void close_pty(Pty& pty);
// Everything written to the port so far.
std::string read_master(const Pty& pty);

struct RunResult {
    int status;
    std::string out, err;
    std::string changes; // the break ioctls seen by the recorder: "1" on, "0" off
};

// Runs argv[0] (a path) with the settings ("NAME=VALUE") and the input, the
// ioctl recorder preloaded when record is set, for two minutes at most
// (times the slowdown). during(pid) runs while it does.
RunResult run_command(const std::vector<std::string>& argv, const std::string& input = "",
                      std::vector<std::string> env = {}, bool record = true,
                      const std::function<void(int)>& during = {});

// 1, or the factor in TARVIK_TEST_SLOWDOWN (set when the suite runs under
// valgrind).
int slowdown();

// The line changes of frames of these widths, in order: break on, then per
// bit off and on, then off.
std::string frames_of_widths(const std::vector<int>& widths);
// The break line's changes in a Value Change Dump, as "1" and "0".
std::string vcd_changes(const std::string& text);
