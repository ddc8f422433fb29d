#include "run.h"

#include "../core/frame.h"
#include "../core/port.h"
#include "../core/timing.h"
#include "script.h"

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

void explain_refusal(const PortFailure& failure) {
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

} // namespace

int send_command(PortHandle port, command_code code, RobotModel model) {
    FrameResult sent = send_frame(port, code, model, true);
    if (!sent.port_failed)
        return 0;
    std::printf("error writing port\n");
    explain_error(sent.error);
    return 1;
}

int run_program(const RunSettings& settings) {
    timing.use_mm_timer = settings.mm_timer ? 1 : 0;
    std::int64_t frequency = 0;
    if (!plat_counter_frequency(&frequency)) {
        std::printf("high resolution timer not supported. giving up.\n");
        return 1;
    }
    init_timing(frequency);

    plat_port_path(settings.port_name, port_path, sizeof port_path);
    PortFailure failure;
    PortHandle port = open_port(settings.port_name, &failure);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("error opening port\n");
        explain_refusal(failure);
        return 1; // a port that cannot be opened is a failure, not success
    }
    plat_lock_memory();
    // From here on an interruption lets the current frame finish, so the
    // line is left off, and ends the run with the port closed.
    plat_catch_interrupts();
    if (!settings.no_wakeup)
        send_wakeup(port);

    int status = 0;
    if (!plat_interrupted()) // nothing more goes out after a Ctrl-C in the wake-up pause
        status = settings.script_path ? run_script(port, settings.script_path, settings.model)
                                      : send_command(port, settings.code, settings.model);
    close_port(port);
    return plat_interrupted() ? plat_interrupted() : status;
}
