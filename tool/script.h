// The script player: one timed command per line.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

// 0 when the script was played to its end, 1 when it cannot be opened or read.
int run_script(Port* port, const char* path, RobotModel model);

// Goes through a script, or one command (its name and code), as a run would, without opening or
// sending anything: prints each frame with its line, the time it would go out
// (from the delays and the frames' lengths; 100 ms first for the wake-up) and
// its bits, then the number of frames, the unrecognised names and the total
// time. 1 when a name is not recognised or the script cannot be read.
int check_frames(const char* script_path, const char* name, command_code code, RobotModel model,
                 bool wakeup);
