// The script player: one timed command per line.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

#include <cstddef>

// 0 when the script was played to its end, 1 when it cannot be opened or read.
int run_script(Port* port, const char* path, RobotModel model);

// Goes through a script, or one command (its name and code), as a run would, without opening or
// sending anything: prints each frame with its line, the time it would go out
// (from the delays and the frames' lengths; 100 ms first for the wake-up) and
// its bits, then the number of frames, the unrecognised names and the total
// time. 1 when a name is not recognised or the script cannot be read.
int check_frames(const char* script_path, const char* name, command_code code, RobotModel model,
                 bool wakeup);

// What the remote control learns of a script it plays, and how it stops one.
// Every call comes from the thread that plays.
struct ScriptWatch {
    void* context;
    bool (*stop_asked)(void* context);        // looked at while waiting and between lines
    void (*at_line)(void* context, int line); // a line with a command starts (its delay first)
    void (*sent)(void* context, int line, const char* name, command_code code, bool disturbed);
    void (*unknown)(void* context, int line, const char* name);
};

// Plays a script held in memory, read exactly as a script file is; 0, or 1
// when the port failed.
int play_script_text(Port* port, const char* text, std::size_t length, RobotModel model,
                     const ScriptWatch* watch);

// Problems a check finds, one call each, with the script's line.
typedef void (*ProblemSink)(void* context, int line, const char* message);

// Goes through a script held in memory as -check does, printing nothing and
// opening or sending nothing: each problem to sink, the number of frames and
// the total time (100 ms first for the wake-up). 1 when a problem was found.
int check_script_text(const char* text, std::size_t length, RobotModel model, bool wakeup,
                      ProblemSink sink, void* context, int* frames, double* seconds);
