// The command line of tarvik: usage text, command lists, options.
#pragma once

#include "../player/run.h"

// Serves the browser remote control with the run's settings (tarvik -serve);
// main gives it where the build has the remote.
typedef int (*ServeRemote)(const RunSettings& settings);

int tarvik_main(int argc, char** argv, ServeRemote serve = nullptr);
