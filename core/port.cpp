#include "port.h"

#include "recording.h"

#include <cctype>
#include <cstdint>
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

namespace {

// Compared by device number, so that links to a console and /dev/console
// itself are caught as well as its own name.
bool is_console(std::uint64_t device) {
    char names[256];
    if (!plat_console_names(names, sizeof names - 16))
        names[0] = '\0';
    std::strcat(names, " console");
    for (const char* p = names; *p;) {
        std::size_t n = std::strcspn(p, " \t\n");
        if (n > 0 && n < 64) {
            char path[80] = "/dev/";
            std::strncat(path, p, n);
            std::uint64_t console = 0;
            if (plat_path_device(path, &console) && console == device)
                return true;
        }
        p += n;
        p += std::strspn(p, " \t\n");
    }
    return false;
}

PortProblem check_device(PlatHandle port) {
    bool character = false;
    std::uint64_t device = 0;
    if (!plat_port_device(port, &character, &device) || !character)
        return PORT_NOT_SERIAL;
    return is_console(device) ? PORT_CONSOLE : PORT_OPENED;
}

PortHandle refuse(PortFailure* failure, PortProblem problem, int error) {
    if (failure) {
        failure->problem = problem;
        failure->error = error;
    }
    return INVALID_PORT;
}

} // namespace

PortHandle open_port(const char* name, PortFailure* failure) {
    int error = 0;
    if (is_recording_name(name)) {
        PortHandle file = recording_open(name, &error);
        return file == INVALID_PORT ? refuse(failure, PORT_CANNOT_OPEN, error) : file;
    }
    PlatHandle port = plat_open_port(name, &error);
    if (port == PLAT_INVALID_HANDLE)
        return refuse(failure, plat_error_in_use(error) ? PORT_IN_USE : PORT_CANNOT_OPEN, error);
    // Checked before anything is done to it: a refused device is closed as
    // it was found.
    PortProblem problem = check_device(port);
    if (problem != PORT_OPENED) {
        plat_close_port(port);
        return refuse(failure, problem, 0);
    }
    error = plat_claim_port(port);
    if (error != 0) {
        plat_close_port(port);
        return refuse(failure, plat_error_in_use(error) ? PORT_IN_USE : PORT_CANNOT_OPEN, error);
    }
    if (failure)
        failure->problem = PORT_OPENED;
    return port;
}

bool close_port(PortHandle port) {
    if (recording_is_open(port))
        return recording_close(port);
    plat_release_port(port);
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

LineResult port_break_on(PortHandle port, int* error) {
    if (recording_is_open(port)) {
        recording_line(port, true);
        return LINE_DONE;
    }
    return plat_break_on(port, error);
}

LineResult port_break_off(PortHandle port, int* error) {
    if (recording_is_open(port)) {
        recording_line(port, false);
        return LINE_DONE;
    }
    return plat_break_off(port, error);
}

void port_idle(PortHandle port) {
    if (recording_is_open(port))
        recording_idle(port);
}
