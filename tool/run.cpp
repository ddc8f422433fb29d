#include "run.h"

#include "../core/frame.h"
#include "../core/port.h"
#include "../core/timing.h"
#include "script.h"

#include <cstdio>

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
    if (!settings.no_wakeup)
        send_wakeup(port);

    int status = 0;
    if (settings.script_path)
        status = run_script(port, settings.script_path, settings.model);
    else
        send_frame(port, settings.code, settings.model, true);
    close_port(port);
    return status;
}
