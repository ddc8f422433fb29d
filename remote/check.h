// A script checked as the page's user types it: the program's own reading
// (the same as -script F -check), printing, opening and sending nothing.
#pragma once

#include "../core/commands.h"

#include <nlohmann/json.hpp>

#include <string>

// {"frames": N, "seconds": S, "problems": [{"line": L, "message": "..."}]}
nlohmann::ordered_json script_check(const std::string& text, RobotModel model);
