// RTKit through sd-bus: realtime for the sending thread of a user who has no
// right to it, the way desktops grant it to their sound servers. Linux
// builds that found libsystemd only.
#include "platform.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const char* const SERVICE = "org.freedesktop.RealtimeKit1";
const char* const OBJECT = "/org/freedesktop/RealtimeKit1";
// A bus that answers nothing must not hold the run up for long.
const std::uint64_t CALL_LIMIT_US = 5000000;

// The system bus, or DBUS_SYSTEM_BUS_ADDRESS's; null when there is none.
sd_bus* system_bus() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return nullptr;
    sd_bus_set_method_call_timeout(bus, CALL_LIMIT_US);
    return bus;
}

// A failed call: the bus itself gone (no error name came back), or the
// service not there or not answering.
RtkitAnswer failed(const sd_bus_error* error) {
    return sd_bus_error_is_set(error) ? RTKIT_ABSENT : RTKIT_NO_BUS;
}

} // namespace

RtkitAnswer plat_rtkit_max_priority(int* max) {
    sd_bus* bus = system_bus();
    if (!bus)
        return RTKIT_NO_BUS;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::int32_t value = 0;
    RtkitAnswer answer = sd_bus_get_property_trivial(bus, SERVICE, OBJECT, SERVICE,
                                                     "MaxRealtimePriority", &error, 'i', &value) < 0
                             ? failed(&error)
                             : RTKIT_OK;
    *max = value;
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return answer;
}

RtkitAnswer plat_rtkit_make_realtime(int priority) {
    sd_bus* bus = system_bus();
    if (!bus)
        return RTKIT_NO_BUS;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::int64_t usec = 0;
    RtkitAnswer answer = RTKIT_OK;
    if (sd_bus_get_property_trivial(bus, SERVICE, OBJECT, SERVICE, "RTTimeUSecMax", &error, 'x',
                                    &usec) < 0) {
        answer = failed(&error);
    } else {
        // RTKit grants only to a process that a runaway realtime thread
        // cannot hang: the kernel stops one that runs this long without
        // sleeping. Lowering a limit needs no privilege.
        rlimit limit;
        if (getrlimit(RLIMIT_RTTIME, &limit) == 0 && limit.rlim_max != RLIM_INFINITY &&
            limit.rlim_max < static_cast<rlim_t>(usec))
            usec = static_cast<std::int64_t>(limit.rlim_max);
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(usec);
        if (usec <= 0 || setrlimit(RLIMIT_RTTIME, &limit) != 0 ||
            sd_bus_call_method(bus, SERVICE, OBJECT, SERVICE, "MakeThreadRealtime", &error, nullptr,
                               "tu", static_cast<std::uint64_t>(gettid()),
                               static_cast<std::uint32_t>(priority)) < 0)
            answer = RTKIT_REFUSED;
    }
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return answer;
}
