#include "recording.h"

#include <cinttypes>
#include <cstdio>

namespace {

// Text is kept in memory and written out only while the line is idle (after a
// frame, at the wake-up and the close): a file write can take milliseconds.
// One frame needs well under a kilobyte.
const int BUFFER_SIZE = 4096;

struct Recording {
    PlatHandle file;
    std::int64_t origin;
    std::int64_t frequency;
    bool wakeup_marked;
    int used;
    char buffer[BUFFER_SIZE];
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

void flush(Recording& r) {
    if (r.used > 0)
        plat_write_file(r.file, r.buffer, static_cast<std::size_t>(r.used));
    r.used = 0;
}

// Adds the time stamp and the changes that happen at it.
void change(Recording& r, const char* values) {
    std::int64_t ns = nanoseconds(r, plat_counter());
    if (r.used > BUFFER_SIZE - 64)
        flush(r);
    int n = std::snprintf(r.buffer + r.used, static_cast<std::size_t>(BUFFER_SIZE - r.used),
                          "#%" PRId64 "\n%s%s", ns, r.wakeup_marked ? "0\"\n" : "", values);
    if (n > 0 && n < BUFFER_SIZE - r.used)
        r.used += n;
    r.wakeup_marked = false;
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

PlatHandle recording_open(const char* name) {
    if (recordings_used == MAX_RECORDINGS)
        return PLAT_INVALID_HANDLE;
    std::int64_t frequency = 0;
    if (!plat_counter_frequency(&frequency))
        return PLAT_INVALID_HANDLE;
    PlatHandle file = plat_create_file(name);
    if (file == PLAT_INVALID_HANDLE)
        return file;
    Recording& r = recordings[recordings_used++];
    r.file = file;
    r.frequency = frequency;
    r.origin = plat_counter();
    r.wakeup_marked = false;
    r.used = 0;
    plat_write_file(file, HEADER, sizeof HEADER - 1);
    return file;
}

bool recording_is_open(PlatHandle file) {
    return find(file) != nullptr;
}

void recording_line(PlatHandle file, bool break_on) {
    if (Recording* r = find(file)) {
        change(*r, break_on ? "1!\n" : "0!\n");
    }
}

void recording_idle(PlatHandle file) {
    if (Recording* r = find(file))
        flush(*r);
}

// The wake-up span runs from the byte to the next line change (or the end).
void recording_wakeup(PlatHandle file) {
    if (Recording* r = find(file)) {
        change(*r, "1\"\n");
        flush(*r);
        r->wakeup_marked = true;
    }
}

bool recording_close(PlatHandle file) {
    Recording* r = find(file);
    if (!r)
        return false;
    if (r->wakeup_marked)
        change(*r, "");
    flush(*r);
    bool closed = plat_close_port(r->file);
    *r = recordings[--recordings_used];
    return closed;
}
