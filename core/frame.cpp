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

// Switches the line, keeping the first sign of a vanished device (it fails
// every change after it); a device that merely cannot do the break condition
// stays silent.
inline void switch_line(PortHandle port, bool on, int* gone_error) {
    int error = 0;
    LineResult result = on ? port_break_on(port, &error) : port_break_off(port, &error);
    if (result == LINE_GONE && *gone_error == 0)
        *gone_error = error != 0 ? error : -1;
}

// The line changes and waits of one frame. Run once dry first (no line
// change, no wait) so that first-use costs - page faults, cold caches, code
// not yet bound or translated - are paid before the first pulse, not in it.
// A live frame always runs to its end, so the line is left off whatever
// happened; a failed line change is only noted on the way. Returns the
// error of a vanished device, or 0.
int pulses(PortHandle port, command_code code, RobotModel model, bool live) {
    int gone = 0;
    if (live)
        switch_line(port, true, &gone);
    timing.last_sample = plat_counter(); // anchors the frame
    wait_units(live ? 8 : 0);
    const unsigned bits = static_cast<unsigned>(code);
    for (unsigned mask = top_bit(model); mask != 0; mask >>= 1) {
        if (live)
            switch_line(port, false, &gone);
        wait_units(live ? ((bits & mask) ? 4 : 1) : 0);
        if (live)
            switch_line(port, true, &gone);
        wait_units(live ? 1 : 0);
    }
    if (live)
        switch_line(port, false, &gone);
    return gone;
}

} // namespace

int frame_pulses_us(command_code code, RobotModel model, std::uint32_t out[MAX_PULSE_VALUES]) {
    int count = 0;
    std::int64_t edge_units = 0;
    std::int64_t edge_us = 0;
    auto add = [&](int units) {
        edge_units += units;
        std::int64_t next_us = (edge_units * 5000 + 3) / 6; // units x 833.33 µs, rounded
        out[count++] = static_cast<std::uint32_t>(next_us - edge_us);
        edge_us = next_us;
    };
    add(8);
    const unsigned bits = static_cast<unsigned>(code);
    for (unsigned mask = top_bit(model); mask != 0; mask >>= 1) {
        add((bits & mask) ? 4 : 1);
        add(1);
    }
    return count;
}

FrameResult send_frame(PortHandle port, command_code code, RobotModel model, bool report) {
    FrameResult result;
    if (port_takes_pulses(port)) {
        // The kernel times the transmitter itself: no priorities, no waits.
        std::uint32_t pulses[MAX_PULSE_VALUES];
        int count = frame_pulses_us(code, model, pulses);
        result.error = port_write_pulses(port, pulses, count);
        result.port_failed = result.error != 0;
        result.thread_priority_restored = true;
        return result;
    }
    raise_priorities(report);
    pulses(port, code, model, false);
    start_tick_timer();
    int error = pulses(port, code, model, true);

    port_idle(port);
    stop_tick_timer();
    plat_normal_process_priority();
    result.thread_priority_restored = plat_normal_thread_priority();
    result.port_failed = error != 0;
    result.error = error;
    return result;
}
