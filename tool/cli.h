// The command line of tarvik: usage text, command lists, options.
#pragma once

#include "../core/commands.h"

int tarvik_main(int argc, char** argv);

// A command as the command line reads it: a 0x code, sent as it is (above
// 0xFF it takes model 1 to the 12-bit frame), or a name of the model. False,
// after the unrecognised-command message, when the name is not known.
bool read_command(const char* text, RobotModel* model, command_code* code);
