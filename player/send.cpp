#include "send.h"

#include "../core/frame.h"
#include "../core/timing.h"

#include <cstdio>

namespace {

// The run's device, as the messages name it.
char port_path[256];

struct FrameChecks {
    bool verbose;
    int resend;
    std::int64_t start; // counter value at the run's start
    int frames;
    int disturbed;
    bool refusal_told; // the device refused the break condition, and we said so
} checks;

bool off_stdout; // nothing on standard output: keep_frames_off_stdout

// Standard output keeps the fixed texts that callers parse; the reason goes
// to standard error in the usual "program: file: reason" form.
void explain(const char* reason) {
    if (!off_stdout)
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
    case PORT_NOT_FILE:
        explain("not a regular file for a recording");
        break;
    default:
        explain_error(failure.error);
    }
}

void keep_frames_off_stdout() {
    off_stdout = true;
}

void start_frame_checks(bool verbose, int resend) {
    checks.verbose = verbose;
    checks.resend = resend;
    checks.start = plat_counter();
    checks.frames = 0;
    checks.disturbed = 0;
    checks.refusal_told = false;
}

bool describing_frames() {
    return checks.verbose;
}

void report_frame_checks() {
    if (checks.verbose || checks.disturbed > 0)
        std::fprintf(stderr, "tarvik: %d frame%s sent, %d disturbed\n", checks.frames,
                     checks.frames == 1 ? "" : "s", checks.disturbed);
}

void describe_frame(std::FILE* out, const char* name, command_code code, RobotModel model) {
    unsigned char units[MAX_FRAME_PULSES];
    int count = frame_units(code, model, units);
    std::fprintf(out, "%s (0x%x): ", name,
                 static_cast<unsigned>(code) & (count == 17 ? 0xFFu : 0xFFFu));
    for (int i = 1; i < count; i += 2)
        std::fputc(units[i] == 4 ? '1' : '0', out);
}

int send_command(Port* port, const char* name, command_code code, RobotModel model,
                 bool* disturbed_out) {
    for (int attempt = 0;; ++attempt) {
        std::int64_t started = plat_counter();
        FrameResult sent = send_frame(port, code, model, !off_stdout);
        if (sent.port_failed) {
            std::fprintf(off_stdout ? stderr : stdout, "error writing port\n");
            explain_error(sent.error);
            return 1;
        }
        if (sent.refused) {
            // Not counted: nothing reached the robot. Said once; a remote
            // that goes on hears of each frame in its answer.
            if (!checks.refusal_told) {
                char reason[200], text[320];
                plat_error_text(sent.error, reason, sizeof reason);
                std::snprintf(text, sizeof text,
                              "the device refused the break condition (%s); the frame of 0x%x "
                              "was not sent",
                              reason, static_cast<unsigned>(code));
                explain(text);
                checks.refusal_told = true;
            }
            return 1;
        }
        ++checks.frames;
        // A quarter unit (208 µs) late, a pulse may be read wrong by the robot.
        double late_us =
            static_cast<double>(sent.late_ticks) * 1e6 / static_cast<double>(timing.frequency);
        bool disturbed = late_us > 1e6 / 1200 / 4;
        if (disturbed_out)
            *disturbed_out = disturbed;
        if (!off_stdout)
            std::fflush(stdout);
        if (checks.verbose) {
            std::fprintf(stderr, "tarvik: %.3f s: ",
                         static_cast<double>(started - checks.start) /
                             static_cast<double>(timing.frequency));
            describe_frame(stderr, name, code, model);
            std::fprintf(stderr, ", latest edge %.0f us late\n", late_us);
        }
        if (!disturbed)
            return 0;
        ++checks.disturbed;
        std::fprintf(
            stderr,
            "tarvik: frame of 0x%x disturbed: a pulse %.1f ms late (the machine paused the "
            "program)\n",
            static_cast<unsigned>(code), late_us / 1000);
        if (attempt >= checks.resend || plat_interrupted())
            return 0;
        plat_sleep_ms(1); // the gap between a script's back-to-back frames
    }
}
