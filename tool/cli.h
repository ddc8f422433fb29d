// The command line of tarvik: usage text, command lists, options.
#pragma once

#include "../core/commands.h"

void print_usage();
void list_commands(RobotModel model);
int tarvik_main(int argc, char** argv);
