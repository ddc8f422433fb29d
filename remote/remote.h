// The browser remote control, tarvik -serve: a page and a JSON API over
// HTTP, with one thread that owns the port and sends every frame.
#pragma once

#include "../player/run.h"

// Serves until interrupted (Ctrl-C, SIGTERM): opens the port, sends the
// wake-up byte, prints the address to open. The exit status (130 after
// Ctrl-C).
int serve_remote(const RunSettings& settings);
