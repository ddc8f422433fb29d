// The remote's HTTP routes: the page and the JSON API.
#pragma once

#include "../core/commands.h"
#include "access.h"

namespace httplib {
class Server;
}

// Bodies larger than this are refused (413).
const unsigned long REMOTE_BODY_LIMIT = 1 << 20;

void install_routes(httplib::Server* server, const Access* access, RobotModel model);
