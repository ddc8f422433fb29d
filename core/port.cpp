#include "port.h"

#include "recording.h"

#include <cctype>
#include <cstring>

namespace {

bool is_recording_name(const char* name) {
    std::size_t n = std::strlen(name);
    if (n < 4)
        return false;
    const char* ext = name + n - 4;
    return ext[0] == '.' && std::tolower(static_cast<unsigned char>(ext[1])) == 'v' &&
           std::tolower(static_cast<unsigned char>(ext[2])) == 'c' &&
           std::tolower(static_cast<unsigned char>(ext[3])) == 'd';
}

} // namespace

PortHandle open_port(const char* name) {
    if (is_recording_name(name))
        return recording_open(name);
    return plat_open_port(name);
}

bool close_port(PortHandle port) {
    if (recording_is_open(port))
        return recording_close(port);
    return plat_close_port(port);
}

bool port_takes_pulses(PortHandle port) {
    return plat_is_pulse_device(port);
}

int port_write_pulses(PortHandle port, const std::uint32_t* us, int count) {
    return plat_write_pulses(port, us, count);
}

// A transmitter without a serial line has nothing to wake.
void send_wakeup(PortHandle port) {
    if (port_takes_pulses(port))
        return;
    if (recording_is_open(port))
        recording_wakeup(port);
    else
        plat_write_byte(port, 0x00);
    plat_sleep_ms(100);
}

int port_break_on(PortHandle port) {
    if (recording_is_open(port)) {
        recording_line(port, true);
        return 0;
    }
    return plat_break_on(port);
}

int port_break_off(PortHandle port) {
    if (recording_is_open(port)) {
        recording_line(port, false);
        return 0;
    }
    return plat_break_off(port);
}

void port_idle(PortHandle port) {
    if (recording_is_open(port))
        recording_idle(port);
}
