#include "frame.h"

#include "timing.h"

#include <cstdio>

// High enough to preempt busy user processes, below the kernel's threaded
// interrupt handlers (50) so the serial driver still runs. The benchmark in
// bench/ compares builds made with other values.
#ifndef TARVIK_FIFO_PRIORITY
#define TARVIK_FIFO_PRIORITY 49
#endif
const int REALTIME_PRIORITY = TARVIK_FIFO_PRIORITY;

int direct_priority() {
    int limit = plat_realtime_limit();
    return limit > 0 && limit < REALTIME_PRIORITY ? limit : REALTIME_PRIORITY;
}

namespace {

// True when the thread's own priority was raised.
bool raise_priorities(bool report) {
    long error = 0;
    if (!plat_raise_process_priority(&error) && report)
        std::printf("Warning: cannot set the process realtime priority class: err=%ld\n", error);
    bool raised = plat_raise_thread_priority(direct_priority(), &error);
    if (!raised && report)
        std::printf("Warning: cannot set thread priority to time critical: err=%ld\n", error);
    return raised;
}

// The first error of each kind a frame's line changes met: a vanished
// device fails every change after it; a device that refuses the break
// condition sends nothing of the frame.
struct LineErrors {
    int gone;
    int refused;
};

void switch_line(Port* port, bool on, LineErrors* errors) {
    int error = 0;
    LineResult result = on ? port_break_on(port, &error) : port_break_off(port, &error);
    int* first = result == LINE_GONE ? &errors->gone : &errors->refused;
    if (result != LINE_DONE && *first == 0)
        *first = error != 0 ? error : -1;
}

// The rehearsal's stand-in for switch_line: the same walk, the line untouched.
void leave_line(Port*, bool, LineErrors*) {}

typedef void (*LineSwitch)(Port* port, bool on, LineErrors* errors);

// Walks a frame's pulses: each sets the line (break on first, then
// alternating) and lasts its units, measured from the end of the one before.
// The line is left off at the end whatever happened; the errors met are
// returned. The counter is read after every change, for the frame's check;
// those readings never move a wait.
LineErrors play(Port* port, const unsigned char* units, int count, LineSwitch set_line,
                std::int64_t changed[MAX_FRAME_PULSES + 1]) {
    LineErrors errors = {0, 0};
    set_line(port, true, &errors);
    timing.last_sample = plat_counter(); // anchors the frame
    changed[0] = timing.last_sample;
    for (int i = 1; i < count; ++i) {
        wait_units(units[i - 1]);
        set_line(port, i % 2 == 0, &errors);
        changed[i] = plat_counter();
    }
    wait_units(units[count - 1]);
    set_line(port, false, &errors);
    changed[count] = plat_counter();
    return errors;
}

// How much later than its ideal time, counted from the first change, the
// latest change came.
std::int64_t latest_change(const unsigned char* units, int count,
                           const std::int64_t changed[MAX_FRAME_PULSES + 1]) {
    std::int64_t worst = 0, total_units = 0;
    for (int i = 1; i <= count; ++i) {
        total_units += units[i - 1];
        std::int64_t ideal = changed[0] + static_cast<std::int64_t>(
                                              static_cast<double>(total_units) * timing.unit_ticks);
        if (changed[i] - ideal > worst)
            worst = changed[i] - ideal;
    }
    return worst;
}

} // namespace

int frame_units(command_code code, RobotModel model, unsigned char out[MAX_FRAME_PULSES]) {
    int count = 0;
    out[count++] = 8;
    const unsigned bits = static_cast<unsigned>(code);
    for (unsigned mask = model == MODEL_V1 ? 0x80u : 0x800u; mask != 0; mask >>= 1) {
        out[count++] = (bits & mask) ? 4 : 1;
        out[count++] = 1;
    }
    return count;
}

int frame_pulses_us(command_code code, RobotModel model, std::uint32_t out[MAX_FRAME_PULSES]) {
    unsigned char units[MAX_FRAME_PULSES];
    int count = frame_units(code, model, units);
    std::int64_t edge_units = 0;
    std::int64_t edge_us = 0;
    for (int i = 0; i < count; ++i) {
        edge_units += units[i];
        std::int64_t next_us = (edge_units * 5000 + 3) / 6; // units x 833.33 µs, rounded
        out[i] = static_cast<std::uint32_t>(next_us - edge_us);
        edge_us = next_us;
    }
    return count;
}

FrameResult send_frame(Port* port, command_code code, RobotModel model, bool report) {
    FrameResult result;
    if (port->kind == PORT_PULSE_TRANSMITTER) {
        // The kernel times the transmitter itself: no priorities, no waits.
        std::uint32_t pulses[MAX_FRAME_PULSES];
        int count = frame_pulses_us(code, model, pulses);
        result.error = port_write_pulses(port, pulses, count);
        result.port_failed = result.error != 0;
        result.refused = false;
        result.thread_priority_restored = true;
        result.late_ticks = 0;
        return result;
    }
    unsigned char units[MAX_FRAME_PULSES];
    int count = frame_units(code, model, units);
    plat_rest_before_frame();
    // A realtime thread stays on its processor for the frame: no move to
    // another mid-pulse. Only this thread, and its own set comes back after.
    PlatCpuSet cpus;
    cpus.pinned = false;
    if (raise_priorities(report))
        plat_pin_thread(&cpus);
    // A rehearsal first, without switching or waiting, so that first-use
    // costs (page faults, cold caches, code not yet bound) are paid before
    // the first pulse, not in it.
    static const unsigned char NO_WAIT[MAX_FRAME_PULSES] = {};
    std::int64_t changed[MAX_FRAME_PULSES + 1];
    play(port, NO_WAIT, count, leave_line, changed);
    start_tick_timer();
    LineErrors errors = play(port, units, count, switch_line, changed);

    port_idle(port);
    stop_tick_timer();
    result.thread_priority_restored = plat_leave_frame_priority();
    plat_unpin_thread(&cpus);
    result.port_failed = errors.gone != 0;
    result.refused = !result.port_failed && errors.refused != 0;
    result.error = result.port_failed ? errors.gone : errors.refused;
    result.late_ticks = latest_change(units, count, changed);
    return result;
}
