#include "recording.h"

#include <cinttypes>
#include <cstdio>

namespace {

// Inside a frame a change is only noted with its counter value; the text is
// made and written while the line is idle (after a frame, at the wake-up and
// the close), since formatting and file writes would lengthen pulses.
enum ChangeKind : unsigned char { LINE_OFF, LINE_ON, WAKEUP, END };

struct Change {
    std::int64_t counter;
    ChangeKind kind;
};

const int MAX_PENDING = 256; // a frame makes at most 26 changes

struct Recording {
    PlatHandle file;
    std::int64_t origin;
    std::int64_t frequency;
    bool wakeup_high;
    int pending;
    Change changes[MAX_PENDING];
};

// A handful of recordings at once is plenty (the Java library may hold several).
const int MAX_RECORDINGS = 8;
Recording recordings[MAX_RECORDINGS];
int recordings_used;

Recording* find(PlatHandle file) {
    for (int i = 0; i < recordings_used; ++i)
        if (recordings[i].file == file)
            return &recordings[i];
    return nullptr;
}

std::int64_t nanoseconds(const Recording& r, std::int64_t counter) {
    std::int64_t ticks = counter - r.origin;
    if (r.frequency <= 0)
        return 0;
    return ticks / r.frequency * 1000000000 + ticks % r.frequency * 1000000000 / r.frequency;
}

void write_out(Recording& r) {
    char text[4096];
    int used = 0;
    for (int i = 0; i < r.pending; ++i) {
        const Change& c = r.changes[i];
        if (c.kind == END && !r.wakeup_high)
            continue;
        if (used > static_cast<int>(sizeof text) - 64) {
            plat_write_file(r.file, text, static_cast<std::size_t>(used));
            used = 0;
        }
        // The wake-up mark lasts until the next change.
        const char* wakeup_low = r.wakeup_high && c.kind != WAKEUP ? "0\"\n" : "";
        static const char* const values[] = {"0!\n", "1!\n", "1\"\n", ""};
        used += std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used),
                              "#%" PRId64 "\n%s%s", nanoseconds(r, c.counter), wakeup_low,
                              values[c.kind]);
        r.wakeup_high = c.kind == WAKEUP;
    }
    if (used > 0)
        plat_write_file(r.file, text, static_cast<std::size_t>(used));
    r.pending = 0;
}

void note(PlatHandle file, ChangeKind kind) {
    Recording* r = find(file);
    if (!r)
        return;
    if (r->pending == MAX_PENDING)
        write_out(*r);
    r->changes[r->pending].counter = plat_counter();
    r->changes[r->pending].kind = kind;
    ++r->pending;
}

const char HEADER[] = "$version tarvik $end\n"
                      "$timescale 1 ns $end\n"
                      "$scope module tarvik $end\n"
                      "$var wire 1 ! break $end\n"
                      "$var wire 1 \" wakeup $end\n"
                      "$upscope $end\n"
                      "$enddefinitions $end\n"
                      "#0\n"
                      "$dumpvars\n0!\n0\"\n$end\n";

} // namespace

PlatHandle recording_open(const char* name, int* error) {
    *error = 0;
    if (recordings_used == MAX_RECORDINGS)
        return PLAT_INVALID_HANDLE;
    std::int64_t frequency = 0;
    if (!plat_counter_frequency(&frequency))
        return PLAT_INVALID_HANDLE;
    PlatHandle file = plat_create_file(name, error);
    if (file == PLAT_INVALID_HANDLE)
        return file;
    Recording& r = recordings[recordings_used++];
    r.file = file;
    r.frequency = frequency;
    r.origin = plat_counter();
    r.wakeup_high = false;
    r.pending = 0;
    plat_write_file(file, HEADER, sizeof HEADER - 1);
    return file;
}

bool recording_is_open(PlatHandle file) {
    return find(file) != nullptr;
}

void recording_line(PlatHandle file, bool break_on) {
    note(file, break_on ? LINE_ON : LINE_OFF);
}

void recording_wakeup(PlatHandle file) {
    note(file, WAKEUP);
    recording_idle(file);
}

void recording_idle(PlatHandle file) {
    if (Recording* r = find(file))
        write_out(*r);
}

bool recording_close(PlatHandle file) {
    Recording* r = find(file);
    if (!r)
        return false;
    note(file, END);
    write_out(*r);
    bool closed = plat_close_port(r->file);
    *r = recordings[--recordings_used];
    return closed;
}
