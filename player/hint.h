// What a user may have meant by a name no command of the model has.
#pragma once

#include "../core/commands.h"

#include <cstddef>

// "walk_forward is a MekTarvik v1 command" when another model knows the name
// (with options, what to write on the command line: " (drop -v2)"), else
// "did you mean walk_forward?" for the model's closest names (within two
// edits, at most three). False, with text empty, when nothing comes close.
bool command_hint(const char* name, RobotModel model, bool options, char* text, std::size_t size);
