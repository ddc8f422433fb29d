#include "port.h"

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

bool refuse(PortFailure* failure, PortProblem problem, int error) {
    if (failure) {
        failure->problem = problem;
        failure->error = error;
    }
    return false;
}

PortProblem in_use_or(int error) {
    return plat_error_in_use(error) ? PORT_IN_USE : PORT_CANNOT_OPEN;
}

// A recording is only ever a regular file and one writer's: it is emptied
// only once it is known to be both, so that nothing else is written over.
bool open_recording(const char* name, Port* port, PortFailure* failure) {
    bool regular = true;
    int error = 0;
    PlatHandle file = plat_open_file(name, &regular, &error);
    if (file == PLAT_INVALID_HANDLE)
        return refuse(failure, regular ? in_use_or(error) : PORT_NOT_FILE, error);
    error = plat_claim_file(file);
    if (error == 0)
        error = plat_truncate_file(file);
    if (error == 0 && !recording_start(file, &port->recording))
        error = -1; // no counter to time it by
    if (error != 0) {
        plat_close_port(file);
        return refuse(failure, in_use_or(error), error > 0 ? error : 0);
    }
    port->kind = PORT_RECORDING;
    port->handle = file;
    if (failure)
        failure->problem = PORT_OPENED;
    return true;
}

} // namespace

bool open_port(const char* name, Port* port, PortFailure* failure) {
    int error = plat_check_name(name);
    if (error != 0)
        return refuse(failure, PORT_CANNOT_OPEN, error);
    if (is_recording_name(name))
        return open_recording(name, port, failure);
    // The console is not even opened when its name says it is one; what only
    // the opened device can tell (a link, /dev/console) is checked below.
    char path[PLAT_NAME_SIZE];
    plat_port_path(name, path, sizeof path);
    std::uint64_t device = 0;
    if (plat_path_device(path, &device) && is_console(device))
        return refuse(failure, PORT_CONSOLE, 0);
    PlatHandle handle = plat_open_port(name, &error);
    if (handle == PLAT_INVALID_HANDLE)
        return refuse(failure, in_use_or(error), error);
    // Checked before anything is done to it: a refused device is closed as
    // it was found.
    PortProblem problem = check_device(handle);
    if (problem != PORT_OPENED) {
        plat_close_port(handle);
        return refuse(failure, problem, 0);
    }
    error = plat_claim_port(handle);
    if (error != 0) {
        plat_close_port(handle);
        return refuse(failure, in_use_or(error), error);
    }
    // A character device that is neither a serial line nor a transmitter
    // (/dev/null, /dev/zero) would take every frame without a word.
    if (plat_is_serial_line(handle))
        port->kind = PORT_SERIAL_LINE;
    else if (plat_pulse_transmitter(handle))
        port->kind = PORT_PULSE_TRANSMITTER;
    else {
        plat_release_port(handle);
        plat_close_port(handle);
        return refuse(failure, PORT_NOT_SERIAL, 0);
    }
    port->handle = handle;
    if (failure)
        failure->problem = PORT_OPENED;
    return true;
}

bool close_port(Port* port) {
    if (port->kind == PORT_RECORDING)
        return recording_close(&port->recording);
    plat_release_port(port->handle);
    return plat_close_port(port->handle);
}

int port_write_pulses(Port* port, const std::uint32_t* us, int count) {
    return plat_write_pulses(port->handle, us, count);
}

// A transmitter without a serial line has nothing to wake.
void send_wakeup(Port* port) {
    if (port->kind == PORT_PULSE_TRANSMITTER)
        return;
    if (port->kind == PORT_RECORDING)
        recording_wakeup(&port->recording);
    else
        plat_write_byte(port->handle, 0x00);
    plat_sleep_ms(100);
}

LineResult port_break_on(Port* port, int* error) {
    if (port->kind != PORT_RECORDING)
        return plat_break_on(port->handle, error);
    recording_line(&port->recording, true);
    return LINE_DONE;
}

LineResult port_break_off(Port* port, int* error) {
    if (port->kind != PORT_RECORDING)
        return plat_break_off(port->handle, error);
    recording_line(&port->recording, false);
    return LINE_DONE;
}

void port_idle(Port* port) {
    if (port->kind == PORT_RECORDING)
        recording_idle(&port->recording);
}
