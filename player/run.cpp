#include "run.h"

#include "../core/port.h"
#include "../core/timing.h"
#include "realtime.h"
#include "script.h"
#include "send.h"

#include <cstdio>

bool begin_run(const RunSettings& settings, Port* port, int* status) {
    *status = 1;
    timing.use_mm_timer = settings.mm_timer ? 1 : 0;
    std::int64_t frequency = 0;
    if (!plat_counter_frequency(&frequency)) {
        std::printf("high resolution timer not supported. giving up.\n");
        return false;
    }
    init_timing(frequency);
    start_frame_checks(settings.verbose, settings.resend);

    name_port(settings.port_name);
    PortFailure failure;
    if (!open_port(settings.port_name, port, &failure)) {
        report_open_failure(failure);
        return false; // a port that cannot be opened is a failure, not success
    }
    // Before the wake-up, whose pause would otherwise hold a slow answer up.
    // The remote's sender thread asks for its own.
    if (!settings.listen)
        take_realtime(port, settings.verbose);
    plat_lock_memory();
    // From here on an interruption lets the current frame finish, so the
    // line is left off, and ends the run with the port closed.
    plat_catch_interrupts();
    if (!settings.no_wakeup)
        send_wakeup(port);
    *status = 0;
    // Nothing more goes out after a Ctrl-C in the wake-up pause.
    return !plat_interrupted();
}

int end_run(Port* port, int status) {
    close_port(port);
    report_frame_checks();
    return plat_interrupted() ? plat_interrupted() : status;
}

int run_program(const RunSettings& settings) {
    // The script first: a file that cannot be read is found before anything
    // is opened, woken or recorded.
    std::FILE* script = nullptr;
    if (settings.script_path && !(script = open_script(settings.script_path)))
        return 1;
    Port port;
    int status = 0;
    if (begin_run(settings, &port, &status))
        status = script ? run_script(&port, script, settings.script_path, settings.model)
                        : send_command(&port, settings.name, settings.code, settings.model);
    else if (status != 0) {
        close_script(script);
        return status;
    }
    status = end_run(&port, status);
    close_script(script);
    return status;
}
