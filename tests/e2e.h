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
    LineChanges ioctls; // break ioctls seen by the recorder, in ns
};

// Runs argv[0] (a path) with the arguments, standard input and output
// captured, and, when record is set, the ioctl recorder preloaded.
RunResult run_command(const std::vector<std::string>& argv, const std::string& stdin_text = "",
                      bool record = true);
// Runs the tarvik binary so.
RunResult run_tarvik(const std::vector<std::string>& args, const std::string& stdin_text = "");

// Output without the priority warnings a non-root user gets.
std::string without_warnings(const std::string& out);
