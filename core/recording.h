// The recording port: the break line as a Value Change Dump (1 µs timescale),
// times taken from the counter, the wake-up byte as a marked span.
#pragma once

#include "../platform/platform.h"

#include <cstdint>

// Inside a frame a change is only noted with its counter value; the text is
// made and written while the line is idle (after a frame, at the wake-up and
// the close), since formatting and file writes would lengthen pulses.
enum ChangeKind : unsigned char { LINE_OFF, LINE_ON, WAKEUP, END };

struct RecordedChange {
    std::int64_t counter;
    ChangeKind kind;
};

const int RECORDING_PENDING = 256; // a frame makes at most 26 changes

struct Recording {
    PlatHandle file;
    std::int64_t origin; // counter value of time 0
    std::int64_t frequency;
    bool wakeup_high;       // the wake-up mark lasts until the next change
    std::int64_t last_time; // the latest time written, in µs
    int pending;            // changes noted and not yet written
    RecordedChange changes[RECORDING_PENDING];
};

// Starts a recording in an open, claimed and empty file: writes its header.
// False when there is no counter to time it by.
bool recording_start(PlatHandle file, Recording* r);
void recording_line(Recording* r, bool break_on);
void recording_wakeup(Recording* r);
void recording_idle(Recording* r);
bool recording_close(Recording* r);
