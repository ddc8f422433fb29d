// The script player: one timed command per line.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

#include <cstddef>
#include <cstdio>

// Opens a script file ("-" is standard input) and reads into it, so that a
// file that cannot be read is found before any port is opened. Null, after
// the message and the reason on standard error, when it cannot be.
std::FILE* open_script(const char* path);
void close_script(std::FILE* file);

// Plays an open script (path names it in messages); 0 when it was played to
// its end, 1 when the port failed or the file could not be read.
int run_script(Port* port, std::FILE* file, const char* path, RobotModel model);

// Goes through a script, or one command (its name and code), as a run would, without opening or
// sending anything: prints each frame with its line, the time it would go out
// (from the delays and the frames' lengths; 100 ms first for the wake-up) and
// its bits, then the number of frames, the unrecognised names and the total
// time; what may be wrong with a line goes to standard error. 1 when a name
// is not recognised or the script cannot be read (then with no summary).
int check_frames(const char* script_path, const char* name, command_code code, RobotModel model,
                 bool wakeup);

// Where a check of a script held in memory tells what may be wrong with a
// line: a name the model does not know (with what may have been meant), a
// line without a delay or without a command that repeats the one before, a
// line the player reads in pieces of 49 characters.
typedef void (*ProblemSink)(void* context, int line, const char* message);

// Checks a script held in memory exactly as -check reads a file, printing
// nothing, opening and sending nothing. *frames and *seconds (either may be
// null) as -check counts them. 0, or 1 when a name is not recognised.
int check_script_text(const char* text, std::size_t length, RobotModel model, bool wakeup,
                      ProblemSink sink, void* context, int* frames, double* seconds);

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
