// A script checked as the page's user types it: the program's own reading
// (the same as -script F -check), printing, opening and sending nothing.
#pragma once

#include "../core/commands.h"

#include <string>

// The answer to POST /api/check {"text": "...", "model": N}: 200 with
// {"frames": N, "seconds": S, "problems": [{"line": L, "message": "..."}]},
// or 400 with {"error": "..."} for a body that is not such an object. The
// model is the server's when the body names none. Returns the status.
int check_answer(const std::string& body, RobotModel server_model, std::string* answer);
