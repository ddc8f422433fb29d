// The script player: one timed command per line.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

// 0 when the script was played to its end, 1 when it cannot be opened or read.
int run_script(Port* port, const char* path, RobotModel model);
