// Windows backend: the serial device, performance counter, priority and
// multimedia timer services of Win32.
#include "platform.h"

#include <windows.h>

#include <mmsystem.h>

namespace {

HANDLE handle_of(PlatHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

const DWORD WAKEUP_LIMIT_MS = 1000;

volatile LONG interrupted_status;

// Runs on a thread of its own. For a closing console, Windows ends the
// process when the handler returns, so it waits for the program to finish.
BOOL WINAPI on_console_event(DWORD event) {
    InterlockedExchange(&interrupted_status, 130);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(5000);
    return TRUE;
}

} // namespace

bool plat_counter_frequency(std::int64_t* frequency) {
    LARGE_INTEGER f;
    if (!QueryPerformanceFrequency(&f))
        return false;
    *frequency = f.QuadPart;
    return true;
}

std::int64_t plat_counter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

PlatHandle plat_open_port(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    return h == INVALID_HANDLE_VALUE ? PLAT_INVALID_HANDLE : reinterpret_cast<PlatHandle>(h);
}

bool plat_close_port(PlatHandle port) {
    return CloseHandle(handle_of(port)) != 0;
}

// A write time-out bounds the byte when flow control holds it; the port's
// own time-outs are put back afterwards and its line settings never touched.
bool plat_write_byte(PlatHandle port, unsigned char byte) {
    HANDLE h = handle_of(port);
    COMMTIMEOUTS saved;
    bool comm = GetCommTimeouts(h, &saved) != 0;
    if (comm) {
        COMMTIMEOUTS bounded = saved;
        bounded.WriteTotalTimeoutMultiplier = 0;
        bounded.WriteTotalTimeoutConstant = WAKEUP_LIMIT_MS;
        SetCommTimeouts(h, &bounded);
    }
    DWORD written = 0;
    BOOL ok = WriteFile(h, &byte, 1, &written, NULL);
    if (comm)
        SetCommTimeouts(h, &saved);
    return ok && written == 1;
}

int plat_break_on(PlatHandle port) {
    return EscapeCommFunction(handle_of(port), SETBREAK) ? 0 : static_cast<int>(GetLastError());
}

int plat_break_off(PlatHandle port) {
    return EscapeCommFunction(handle_of(port), CLRBREAK) ? 0 : static_cast<int>(GetLastError());
}

// Windows has no kernel-timed transmitter interface of this kind.
bool plat_is_pulse_device(PlatHandle) {
    return false;
}

int plat_write_pulses(PlatHandle, const std::uint32_t*, int) {
    return ERROR_NOT_SUPPORTED;
}

// What serial drivers answer once a USB adapter has been pulled.
bool plat_device_gone(int error) {
    return error == ERROR_BAD_COMMAND || error == ERROR_DEVICE_NOT_CONNECTED ||
           error == ERROR_GEN_FAILURE || error == ERROR_DEVICE_REMOVED ||
           error == ERROR_DEV_NOT_EXIST || error == ERROR_OPERATION_ABORTED;
}

PlatHandle plat_create_file(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    return h == INVALID_HANDLE_VALUE ? PLAT_INVALID_HANDLE : reinterpret_cast<PlatHandle>(h);
}

bool plat_write_file(PlatHandle file, const char* data, std::size_t length) {
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(handle_of(file), data, static_cast<DWORD>(length), &written, NULL) ||
            written == 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

void plat_sleep_ms(unsigned ms) {
    Sleep(ms);
}

void plat_catch_interrupts() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

int plat_interrupted() {
    return static_cast<int>(interrupted_status);
}

bool plat_raise_process_priority(long* error) {
    if (SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS))
        return true;
    *error = static_cast<long>(GetLastError());
    return false;
}

bool plat_raise_thread_priority(long* error) {
    if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL))
        return true;
    *error = static_cast<long>(GetLastError());
    return false;
}

bool plat_normal_process_priority() {
    return SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS) != 0;
}

bool plat_normal_thread_priority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL) != 0;
}

bool plat_timer_min_period_ms(unsigned* ms) {
    TIMECAPS caps;
    if (timeGetDevCaps(&caps, sizeof caps) != MMSYSERR_NOERROR)
        return false;
    *ms = caps.wPeriodMin;
    return true;
}

void plat_begin_timer_period() {
    timeBeginPeriod(1);
}
void plat_end_timer_period() {
    timeEndPeriod(1);
}

std::intptr_t plat_create_tick_event() {
    return reinterpret_cast<std::intptr_t>(CreateEventA(NULL, FALSE, FALSE, NULL));
}

void plat_close_tick_event(std::intptr_t event) {
    CloseHandle(reinterpret_cast<HANDLE>(event));
}

std::intptr_t plat_start_periodic_tick(std::intptr_t event) {
    return timeSetEvent(1, 0, reinterpret_cast<LPTIMECALLBACK>(event), 0,
                        TIME_PERIODIC | TIME_CALLBACK_EVENT_SET);
}

void plat_kill_periodic_tick(std::intptr_t timer_id) {
    timeKillEvent(static_cast<UINT>(timer_id));
}

bool plat_wait_tick(std::intptr_t event, unsigned timeout_ms) {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(event), timeout_ms) == WAIT_OBJECT_0;
}
