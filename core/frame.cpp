#include "frame.h"

#include "timing.h"

#include <cstdio>

namespace {

unsigned top_bit(RobotModel model) {
    return model == MODEL_V1 ? 0x80u : 0x800u;
}

void raise_priorities(bool report) {
    long error = 0;
    if (!plat_raise_process_priority(&error) && report)
        std::printf("Warning: cannot set the process realtime priority class: err=%ld\n", error);
    if (!plat_raise_thread_priority(&error) && report)
        std::printf("Warning: cannot set thread priority to time critical: err=%ld\n", error);
}

} // namespace

FrameResult send_frame(PortHandle port, command_code code, RobotModel model, bool report) {
    raise_priorities(report);
    start_tick_timer();

    port_break_on(port);
    timing.last_sample = plat_counter(); // anchors the frame
    wait_units(8);
    const unsigned bits = static_cast<unsigned>(code);
    for (unsigned mask = top_bit(model); mask != 0; mask >>= 1) {
        port_break_off(port);
        wait_units((bits & mask) ? 4 : 1);
        port_break_on(port);
        wait_units(1);
    }
    port_break_off(port);

    port_idle(port);
    stop_tick_timer();
    plat_normal_process_priority();
    FrameResult result;
    result.thread_priority_restored = plat_normal_thread_priority();
    return result;
}

int frame_units(command_code code, RobotModel model) {
    int units = 8;
    const unsigned bits = static_cast<unsigned>(code);
    for (unsigned mask = top_bit(model); mask != 0; mask >>= 1)
        units += (bits & mask) ? 6 : 3;
    return units;
}
