// Realtime for the thread that sends a run's frames, chosen once per run:
// a busy machine disturbs frames sent at normal priority.
#pragma once

#include "../core/port.h"

#include <cstddef>

enum RealtimeRoute {
    REALTIME_DIRECT, // each frame raises itself to SCHED_FIFO and back
    REALTIME_RTKIT,  // RTKit made the thread realtime for the whole run
    REALTIME_NONE,   // frames at normal priority: the user has no right to more
    REALTIME_UNASKED // the device times frames itself, or the system has no routes
};

struct Realtime {
    RealtimeRoute route;
    int priority;
};

// Chooses the calling thread's route, in order: the frames' own SCHED_FIFO
// at our priority (or the user's lower limit); else RTKit, asked once, at
// the lower of our priority and the highest it grants; else none. -v tells
// which on standard error; none says so there once, with what to do.
Realtime take_realtime(const Port* port, bool verbose);

// "direct, priority 49", "RTKit, priority 20", "none"; "" when unasked.
void describe_realtime(const Realtime& realtime, char* text, std::size_t size);
