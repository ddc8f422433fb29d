// The command line of tarvik: usage text, command lists, options.
#pragma once

#include "../core/commands.h"

int tarvik_main(int argc, char** argv);
