// Windows backend: the serial device, performance counter, priority and
// multimedia timer services of Win32.
#include "platform.h"

#include <windows.h>

#include <mmsystem.h>

#include <cstdio>
#include <cstring>

namespace {

HANDLE handle_of(PlatHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

const DWORD WAKEUP_LIMIT_MS = 1000;

volatile LONG interrupted_status;
// Set by the console handler, so that a sleep ends at once.
HANDLE interrupt_event;

// Runs on a thread of its own. For a closing console, Windows ends the
// process when the handler returns, so it waits for the program to finish.
BOOL WINAPI on_console_event(DWORD event) {
    InterlockedExchange(&interrupted_status, 130);
    SetEvent(interrupt_event);
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

// Names as CreateFileA takes them, without the long-name prefix.
int plat_check_name(const char* name) {
    static_assert(MAX_PATH <= PLAT_NAME_SIZE, "room for the longest name");
    return std::strlen(name) < MAX_PATH ? 0 : ERROR_FILENAME_EXCED_RANGE;
}

void plat_port_path(const char* name, char* path, std::size_t size) {
    lstrcpynA(path, name, static_cast<int>(size));
}

PlatHandle plat_open_port(const char* name, int* error) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        *error = static_cast<int>(GetLastError());
        return PLAT_INVALID_HANDLE;
    }
    return reinterpret_cast<PlatHandle>(h);
}

// Serial devices are character devices; Windows numbers none of them.
bool plat_port_device(PlatHandle port, bool* character, std::uint64_t* device) {
    *character = GetFileType(handle_of(port)) == FILE_TYPE_CHAR;
    *device = 0;
    return true;
}

bool plat_path_device(const char*, std::uint64_t*) {
    return false;
}

// The console is no serial line here: nothing to refuse.
bool plat_console_names(char*, std::size_t) {
    return false;
}

// Every DOS device name the system has, the COM ones in their order.
std::size_t plat_list_ports(const char*, char* out, std::size_t size) {
    static char names[65536];
    DWORD length = QueryDosDeviceA(nullptr, names, sizeof names);
    std::size_t used = 0;
    out[0] = '\0';
    for (int number = 1; number <= 256; ++number) {
        char com[16];
        std::snprintf(com, sizeof com, "COM%d", number);
        for (const char* name = names; length > 0 && *name; name += std::strlen(name) + 1)
            if (_stricmp(name, com) == 0 && used + 16 < size)
                used +=
                    static_cast<std::size_t>(std::snprintf(out + used, size - used, "%s\n", com));
    }
    return used;
}

// Opened without sharing, the port is this program's alone already.
int plat_claim_port(PlatHandle) {
    return 0;
}

// A serial port opened by another program answers "access denied".
bool plat_error_in_use(int error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

void plat_release_port(PlatHandle) {}

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

#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L // not in every SDK's headers
#endif

namespace {

// Errors that can only mean the device is gone. Others (ERROR_BAD_COMMAND,
// ERROR_GEN_FAILURE, ERROR_OPERATION_ABORTED) also come from a present port
// that rejects the request or holds a pending error: for those the handle is
// asked once more, and only a port that cannot answer that has gone.
bool removal_error(DWORD error) {
    return error == ERROR_DEVICE_REMOVED || error == ERROR_DEV_NOT_EXIST ||
           error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_NO_SUCH_DEVICE;
}

LineResult escape(PlatHandle port, DWORD function, int* error) {
    HANDLE h = handle_of(port);
    if (EscapeCommFunction(h, function))
        return LINE_DONE;
    DWORD failure = GetLastError();
    *error = static_cast<int>(failure);
    if (removal_error(failure))
        return LINE_GONE;
    DWORD errors = 0;
    COMSTAT status;
    return ClearCommError(h, &errors, &status) ? LINE_REFUSED : LINE_GONE;
}

} // namespace

LineResult plat_break_on(PlatHandle port, int* error) {
    return escape(port, SETBREAK, error);
}

LineResult plat_break_off(PlatHandle port, int* error) {
    return escape(port, CLRBREAK, error);
}

// The NUL device and consoles are character devices too; only a
// communications device has line settings to read.
bool plat_is_serial_line(PlatHandle port) {
    DCB settings;
    std::memset(&settings, 0, sizeof settings);
    settings.DCBlength = sizeof settings;
    return GetCommState(handle_of(port), &settings) != 0;
}

// Windows has no kernel-timed transmitter interface of this kind.
bool plat_pulse_transmitter(PlatHandle) {
    return false;
}

int plat_write_pulses(PlatHandle, const std::uint32_t*, int) {
    return ERROR_NOT_SUPPORTED;
}

void plat_error_text(int error, char* text, std::size_t size) {
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                             static_cast<DWORD>(error), 0, text, static_cast<DWORD>(size), NULL);
    // The system's texts end in a full stop and a line end; messages do not.
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        --n;
    if (n == 0)
        std::snprintf(text, size, "error %d", error);
    else
        text[n] = '\0';
}

namespace {

// "COM1.vcd" or "nul.x.vcd" name a device, whatever follows the dot.
bool device_name(const char* name) {
    const char* base = name;
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':')
            base = p + 1;
    std::size_t n = std::strcspn(base, ".");
    char word[5] = "";
    if (n < 3 || n > 4)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        word[i] = static_cast<char>(base[i] | 0x20);
    word[n] = '\0';
    static const char* const DEVICES[] = {"con", "prn", "aux", "nul"};
    for (const char* device : DEVICES)
        if (std::strcmp(word, device) == 0)
            return true;
    return n == 4 && (std::strncmp(word, "com", 3) == 0 || std::strncmp(word, "lpt", 3) == 0) &&
           word[3] >= '1' && word[3] <= '9';
}

} // namespace

// No other writer may share it (a second one gets a sharing violation, which
// is "in use"); readers may. What is no file on a disk is closed again.
PlatHandle plat_open_file(const char* name, bool* regular, int* error) {
    DWORD attributes = GetFileAttributesA(name);
    *regular = !device_name(name) &&
               (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY));
    if (!*regular)
        return PLAT_INVALID_HANDLE;
    HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        *error = static_cast<int>(GetLastError());
        return PLAT_INVALID_HANDLE;
    }
    *regular = GetFileType(h) == FILE_TYPE_DISK;
    if (!*regular) {
        CloseHandle(h);
        return PLAT_INVALID_HANDLE;
    }
    return reinterpret_cast<PlatHandle>(h);
}

int plat_claim_file(PlatHandle) {
    return 0;
}

int plat_truncate_file(PlatHandle file) {
    HANDLE h = handle_of(file);
    if (SetFilePointer(h, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(h))
        return static_cast<int>(GetLastError());
    return 0;
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
    if (interrupt_event)
        WaitForSingleObject(interrupt_event, ms);
    else
        Sleep(ms);
}

void plat_catch_interrupts() {
    // Manual reset: once caught, every later sleep ends at once too.
    if (!interrupt_event)
        interrupt_event = CreateEventA(NULL, TRUE, FALSE, NULL);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

int plat_interrupted() {
    return static_cast<int>(interrupted_status);
}

// The Windows build keeps memory as the system manages it, as it always has.
void plat_lock_memory() {}

// Windows has no per-process limit on sockets to raise.
void plat_lock_present_memory() {}
void plat_allow_open_files(unsigned) {}

// Windows keeps realtime threads running as long as they like.
void plat_rest_before_frame() {}

bool plat_raise_process_priority(long* error) {
    if (SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS))
        return true;
    *error = static_cast<long>(GetLastError());
    return false;
}

// One level, time-critical, whatever the number.
bool plat_raise_thread_priority(int, long* error) {
    if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL))
        return true;
    *error = static_cast<long>(GetLastError());
    return false;
}

bool plat_leave_frame_priority() {
    SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL) != 0;
}

// Windows threads keep the processors the system gives them during a frame.
void plat_pin_thread(PlatCpuSet* saved) {
    saved->pinned = false;
}

void plat_unpin_thread(const PlatCpuSet*) {}

// None of Linux's routes to realtime: each frame raises itself, as always.
int plat_realtime_limit() {
    return -1;
}
bool plat_realtime_allowed(int) {
    return true;
}
RtkitAnswer plat_rtkit_max_priority(int*) {
    return RTKIT_NO_BUS;
}
RtkitAnswer plat_rtkit_make_realtime(int) {
    return RTKIT_NO_BUS;
}
void plat_keep_realtime() {}

bool plat_timer_min_period_ms(unsigned* ms) {
    TIMECAPS caps;
    if (timeGetDevCaps(&caps, sizeof caps) != MMSYSERR_NOERROR)
        return false;
    *ms = caps.wPeriodMin;
    return true;
}

bool plat_tick_timer_start(std::intptr_t* event, std::intptr_t* timer) {
    timeBeginPeriod(1);
    HANDLE e = CreateEventA(NULL, FALSE, FALSE, NULL);
    MMRESULT id = e ? timeSetEvent(1, 0, reinterpret_cast<LPTIMECALLBACK>(e), 0,
                                   TIME_PERIODIC | TIME_CALLBACK_EVENT_SET)
                    : 0;
    if (id == 0) {
        if (e)
            CloseHandle(e);
        timeEndPeriod(1);
        return false;
    }
    *event = reinterpret_cast<std::intptr_t>(e);
    *timer = static_cast<std::intptr_t>(id);
    return true;
}

void plat_tick_timer_stop(std::intptr_t event, std::intptr_t timer) {
    timeKillEvent(static_cast<UINT>(timer));
    timeEndPeriod(1);
    CloseHandle(reinterpret_cast<HANDLE>(event));
}

bool plat_tick_wait(std::intptr_t event, unsigned timeout_ms) {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(event), timeout_ms) == WAIT_OBJECT_0;
}
