#include "send.h"

#include "../core/frame.h"

#include <cstdio>

namespace {

// The run's device, as the messages name it.
char port_path[256];

// Standard output keeps the fixed texts that callers parse; the reason goes
// to standard error in the usual "program: file: reason" form.
void explain(const char* reason) {
    std::fflush(stdout);
    std::fprintf(stderr, "tarvik: %s: %s\n", port_path, reason);
}

void explain_error(int error) {
    char text[200];
    plat_error_text(error, text, sizeof text);
    explain(text);
}

} // namespace

void name_port(const char* name) {
    plat_port_path(name, port_path, sizeof port_path);
}

void report_open_failure(const PortFailure& failure) {
    std::printf("error opening port\n");
    switch (failure.problem) {
    case PORT_NOT_SERIAL:
        explain("not a serial device");
        break;
    case PORT_CONSOLE:
        explain("the system console; refusing to send to it");
        break;
    case PORT_IN_USE:
        explain("in use by another program");
        break;
    default:
        explain_error(failure.error);
    }
}

int send_command(Port* port, command_code code, RobotModel model) {
    FrameResult sent = send_frame(port, code, model, true);
    if (!sent.port_failed)
        return 0;
    std::printf("error writing port\n");
    explain_error(sent.error);
    return 1;
}
