#include "realtime.h"

#include "../core/frame.h"

#include <cstdio>

namespace {

Realtime choose_realtime(const Port* port) {
    if (port->kind == PORT_PULSE_TRANSMITTER || plat_realtime_limit() < 0)
        return Realtime{REALTIME_UNASKED, 0};
    int priority = direct_priority();
    if (plat_realtime_allowed(priority))
        return Realtime{REALTIME_DIRECT, priority};
    // RTKit's grant lasts: the frames then leave the thread's scheduling be.
    int max = 0;
    if (plat_rtkit_max_priority(&max) == RTKIT_OK && max > 0) {
        priority = max < REALTIME_PRIORITY ? max : REALTIME_PRIORITY;
        if (plat_rtkit_make_realtime(priority) == RTKIT_OK) {
            plat_keep_realtime();
            return Realtime{REALTIME_RTKIT, priority};
        }
    }
    return Realtime{REALTIME_NONE, 0};
}

} // namespace

void describe_realtime(const Realtime& realtime, char* text, std::size_t size) {
    const char* route = realtime.route == REALTIME_DIRECT  ? "direct"
                        : realtime.route == REALTIME_RTKIT ? "RTKit"
                                                           : "";
    if (*route)
        std::snprintf(text, size, "%s, priority %d", route, realtime.priority);
    else
        std::snprintf(text, size, "%s", realtime.route == REALTIME_NONE ? "none" : "");
}

Realtime take_realtime(const Port* port, bool verbose) {
    Realtime realtime = choose_realtime(port);
    std::fflush(stdout);
    if (verbose && realtime.route != REALTIME_UNASKED) {
        char text[64];
        describe_realtime(realtime, text, sizeof text);
        std::fprintf(stderr, "tarvik: realtime: %s\n", text);
    }
    if (realtime.route == REALTIME_NONE)
        std::fprintf(stderr, "tarvik: no realtime priority for this user: a busy machine can "
                             "disturb frames (join the group tarvik, or see \"Realtime\" in man "
                             "tarvik)\n");
    return realtime;
}
