// Runs the program's entry on the fake platform.
#pragma once

#include "fake_platform.h"

#include <string>
#include <vector>

// tarvik_main with these arguments (the program name is added), on a fake
// platform reset to config and fresh timing; returns the status and sets
// *printed to what it printed, and *errors (when given) to its standard error.
int run_main_on_fake(std::vector<std::string> args, const FakeConfig& config, std::string* printed,
                     std::string* errors = nullptr);
