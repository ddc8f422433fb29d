#include "run.h"

#include "../core/frame.h"
#include "../core/port.h"
#include "../core/timing.h"
#include "script.h"

#include <cstdio>

int send_command(PortHandle port, command_code code, RobotModel model) {
    if (!send_frame(port, code, model, true).port_failed)
        return 0;
    std::printf("error writing port\n");
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

    PortHandle port = open_port(settings.port_name);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("error opening port\n");
        return 1; // a port that cannot be opened is a failure, not success
    }
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
