// A command as a user writes it, on the command line or in the remote.
#pragma once

#include "../core/commands.h"

// A 0x code, sent as it is (above 0xFF it takes model 1 to the 12-bit
// frame), or a name of the model. False, after the unrecognised-command
// message, when the name is not known.
bool read_command(const char* text, RobotModel* model, command_code* code);

// The remote's reading, which prints nothing: a 0x code is hexadecimal digits
// only, at least one, and fits 32 bits; a name as above. False when the text
// is neither.
bool resolve_command(const char* text, RobotModel* model, command_code* code);
