#include "recording.h"

#include <cinttypes>
#include <cstdio>

namespace {

// Rounded to the nearest microsecond, without overflow however long the run.
std::int64_t microseconds(const Recording& r, std::int64_t counter) {
    std::int64_t ticks = counter - r.origin;
    if (r.frequency <= 0)
        return 0;
    return ticks / r.frequency * 1000000 +
           (ticks % r.frequency * 1000000 + r.frequency / 2) / r.frequency;
}

void write_out(Recording& r) {
    char text[4096];
    int used = 0;
    for (int i = 0; i < r.pending; ++i) {
        const RecordedChange& c = r.changes[i];
        if (c.kind == END && !r.wakeup_high)
            continue;
        if (used > static_cast<int>(sizeof text) - 64) {
            plat_write_file(r.file, text, static_cast<std::size_t>(used));
            used = 0;
        }
        // A time is written once, however many changes fall on it.
        std::int64_t time = microseconds(r, c.counter);
        if (time != r.last_time)
            used += std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used),
                                  "#%" PRId64 "\n", time);
        r.last_time = time;
        // The wake-up mark lasts until the next change.
        const char* wakeup_low = r.wakeup_high && c.kind != WAKEUP ? "0\"\n" : "";
        static const char* const values[] = {"0!\n", "1!\n", "1\"\n", ""};
        used += std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used), "%s%s",
                              wakeup_low, values[c.kind]);
        r.wakeup_high = c.kind == WAKEUP;
    }
    if (used > 0)
        plat_write_file(r.file, text, static_cast<std::size_t>(used));
    r.pending = 0;
}

void note(Recording* r, ChangeKind kind) {
    if (r->pending == RECORDING_PENDING)
        write_out(*r);
    r->changes[r->pending].counter = plat_counter();
    r->changes[r->pending].kind = kind;
    ++r->pending;
}

const char HEADER[] = "$version tarvik " TARVIK_VERSION " $end\n"
                      "$timescale 1 us $end\n"
                      "$scope module tarvik $end\n"
                      "$var wire 1 ! break $end\n"
                      "$var wire 1 \" wakeup $end\n"
                      "$upscope $end\n"
                      "$enddefinitions $end\n"
                      "#0\n"
                      "$dumpvars\n0!\n0\"\n$end\n";

} // namespace

bool recording_start(PlatHandle file, Recording* r) {
    std::int64_t frequency = 0;
    if (!plat_counter_frequency(&frequency))
        return false;
    r->file = file;
    r->frequency = frequency;
    r->origin = plat_counter();
    r->wakeup_high = false;
    r->pending = 0;
    r->last_time = 0;
    plat_write_file(file, HEADER, sizeof HEADER - 1);
    return true;
}

void recording_line(Recording* r, bool break_on) {
    note(r, break_on ? LINE_ON : LINE_OFF);
}

void recording_wakeup(Recording* r) {
    note(r, WAKEUP);
    write_out(*r);
}

void recording_idle(Recording* r) {
    write_out(*r);
}

// The file ends one unit after its last change, so that viewers that end a
// trace at its last time still show that change.
bool recording_close(Recording* r) {
    note(r, END);
    write_out(*r);
    char end[32];
    int length = std::snprintf(end, sizeof end, "#%" PRId64 "\n", r->last_time + 833);
    plat_write_file(r->file, end, static_cast<std::size_t>(length));
    return plat_close_port(r->file);
}
