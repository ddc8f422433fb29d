#include "run.h"

#include "../core/port.h"
#include "../core/timing.h"
#include "script.h"
#include "send.h"

#include <cstdio>

int run_program(const RunSettings& settings) {
    timing.use_mm_timer = settings.mm_timer ? 1 : 0;
    std::int64_t frequency = 0;
    if (!plat_counter_frequency(&frequency)) {
        std::printf("high resolution timer not supported. giving up.\n");
        return 1;
    }
    init_timing(frequency);
    start_frame_checks(settings.verbose, settings.resend);

    name_port(settings.port_name);
    PortFailure failure;
    Port port;
    if (!open_port(settings.port_name, &port, &failure)) {
        report_open_failure(failure);
        return 1; // a port that cannot be opened is a failure, not success
    }
    plat_lock_memory();
    // From here on an interruption lets the current frame finish, so the
    // line is left off, and ends the run with the port closed.
    plat_catch_interrupts();
    if (!settings.no_wakeup)
        send_wakeup(&port);

    int status = 0;
    if (!plat_interrupted()) // nothing more goes out after a Ctrl-C in the wake-up pause
        status = settings.script_path
                     ? run_script(&port, settings.script_path, settings.model)
                     : send_command(&port, settings.name, settings.code, settings.model);
    close_port(&port);
    report_frame_checks();
    return plat_interrupted() ? plat_interrupted() : status;
}
