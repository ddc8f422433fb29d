// The browser remote control, tarvik -serve: a page and a JSON API over
// HTTP, with one thread that owns the port and sends every frame.
#pragma once

#include "../core/port.h"
#include "../player/run.h"

#include <string>

// Serves until interrupted (Ctrl-C): opens the port, sends the wake-up byte,
// prints the address to open. The exit status (130 after Ctrl-C).
int serve_remote(const RunSettings& settings);

// Starts serving on an open port: the sender thread, then the server's. The
// port it listens on, or -1 after a message on standard output.
int remote_start(Port* port, const char* listen, RobotModel model);
// The address to open, with the key when one is needed.
std::string remote_url();
// Stops serving; the frame being sent finishes first.
void remote_stop();
