// The only way tarvik reaches the operating system. One backend per system
// (posix.cpp, win32.cpp) is chosen at link time; the tests link a fake one.
#pragma once

#include <cstddef>
#include <cstdint>

// A port or file handle: a file descriptor on POSIX, a HANDLE on Windows.
typedef std::intptr_t PlatHandle;
const PlatHandle PLAT_INVALID_HANDLE = -1;

// High-resolution counter.
bool plat_counter_frequency(std::int64_t* frequency); // false: no such counter
std::int64_t plat_counter();

// Every name reaches the system whole or not at all: a name longer than the
// system takes (PATH_MAX, MAX_PATH) is refused before anything is opened,
// rather than looked at cut short. 0, or the system's error number for it.
int plat_check_name(const char* name);
// Room for any name plat_check_name lets through.
const std::size_t PLAT_NAME_SIZE = 4096;

// Serial port. Opening only opens: nothing is sent, no setting changed, so
// a device that turns out not to be ours can be closed untouched.
// PLAT_INVALID_HANDLE with *error set when it cannot be opened.
PlatHandle plat_open_port(const char* name, int* error);
// The device a port name stands for (Linux maps COM1..COM256 to /dev/ttyS*).
void plat_port_path(const char* name, char* path, std::size_t size);
// What an open port is: a character device or not, and its device number.
bool plat_port_device(PlatHandle port, bool* character, std::uint64_t* device);
// The device number of a device file, without opening it.
bool plat_path_device(const char* path, std::uint64_t* device);
// The system's active consoles by device name, blank-separated; false where
// the system keeps no such list.
bool plat_console_names(char* names, std::size_t size);
// The ports this machine has, one a line with what is known of each (on
// Linux serial lines with hardware behind them and LIRC devices, found in
// sysfs and /dev under root, "" for the machine itself; on Windows the COM
// names), without opening any: opening a serial port raises its control
// lines, which resets some boards. The length written.
std::size_t plat_list_ports(const char* root, char* out, std::size_t size);
// Takes the port for this program alone (advisory lock, exclusive use); 0,
// or the system's error number.
int plat_claim_port(PlatHandle port);
// The error says another program holds the port.
bool plat_error_in_use(int error);
// Gives a claimed port back (undoes the exclusive use this program set).
void plat_release_port(PlatHandle port);
bool plat_close_port(PlatHandle port);
// Writes one byte; gives up after about a second when the device cannot take
// it, so that flow control never hangs a run.
bool plat_write_byte(PlatHandle port, unsigned char byte);

// Line break condition. Failures are classified by the backend: a device
// that cannot do the break condition is not a device that went away.
enum LineResult { LINE_DONE, LINE_REFUSED, LINE_GONE };
LineResult plat_break_on(PlatHandle port, int* error);
LineResult plat_break_off(PlatHandle port, int* error);
// The device answers as a serial line (its line settings can be read: a
// terminal on POSIX, a communications device on Windows). Nothing is changed.
bool plat_is_serial_line(PlatHandle port);
// Infrared transmitters that time frames themselves (LIRC on Linux): asked
// once, of a claimed port; one that can send pulses is put into that mode
// and takes a frame as pulse and space lengths in microseconds.
bool plat_pulse_transmitter(PlatHandle port);
// 0 on success, else the system's error number.
int plat_write_pulses(PlatHandle port, const std::uint32_t* us, int count);

// The system's words for an error number, for messages.
void plat_error_text(int error, char* text, std::size_t size);

// Plain files written by the recording port. Opened as they are (not
// emptied, never waited on), and only when they are regular files: anything
// else (a directory, FIFO or device, or a link to one) gives
// PLAT_INVALID_HANDLE with *regular false, left as it was found. Other
// failures set *error.
PlatHandle plat_open_file(const char* name, bool* regular, int* error);
// Takes an open file for this writer alone (an advisory lock, or the sharing
// the open asked for); 0, or the system's error number (plat_error_in_use
// tells one another writer holds). Closing gives it back.
int plat_claim_file(PlatHandle file);
// Empties a claimed file; 0, or the system's error number.
int plat_truncate_file(PlatHandle file);
bool plat_write_file(PlatHandle file, const char* data, std::size_t length);

// Returns early once an interruption has been caught.
void plat_sleep_ms(unsigned ms);

// Interruptions (Ctrl-C, termination, hang-up, console close): once caught,
// the program ends at the next point it looks, with the port left clean.
void plat_catch_interrupts();
// 0, or the exit status the caught interruption asks for.
int plat_interrupted();

// Keeps the program's memory resident, so that no page fault lengthens a
// pulse. The program's own choice: a library must not lock its host's.
void plat_lock_memory();
// From here on only the memory the program has now stays resident, not what
// it maps later: for the remote control, whose connections come and go, so
// that a limit on locked memory never fails their allocations or a thread's
// start.
void plat_lock_present_memory();

// Lets the program hold at least count files and sockets open, where the
// system allows raising its limit that far.
void plat_allow_open_files(unsigned count);

// The frame path's steps around a frame. First whatever rest the system
// needs so that the frame's realtime run is never cut short (Linux stops
// realtime threads that use up their share of each second), then the
// priorities: raising fails with the system's error number in *error.
void plat_rest_before_frame();
bool plat_raise_process_priority(long* error);
// The thread at a realtime priority (SCHED_FIFO on Linux; Windows has its
// own single level and takes no number).
bool plat_raise_thread_priority(int priority, long* error);
// Back to normal priorities (not to whatever they were before); true when
// the thread's own priority was restored.
bool plat_leave_frame_priority();

// The calling thread's own processors, as a frame found them.
struct PlatCpuSet {
    bool pinned;
    std::uint64_t cpus[16]; // the system's record of them
};
// Keeps the calling thread on the processor it runs on for a frame, so that
// no pulse waits for a move to another; its own set is kept in *saved.
void plat_pin_thread(PlatCpuSet* saved);
// Gives the thread back the processors it had before plat_pin_thread.
void plat_unpin_thread(const PlatCpuSet* saved);
// Realtime for a run's sending thread, decided once per run. The highest
// SCHED_FIFO priority the user's resource limit allows (RLIMIT_RTPRIO: 0
// for most users; 99 when unlimited), or -1 on a system without these
// routes (Windows), whose frames raise themselves as they always have.
int plat_realtime_limit();
// Whether the calling thread may have SCHED_FIFO at the priority: tried,
// then back to normal.
bool plat_realtime_allowed(int priority);
// RTKit, the system bus's service that grants realtime to users without
// the right to it. The highest priority it grants (MaxRealtimePriority) ...
enum RtkitAnswer { RTKIT_OK, RTKIT_REFUSED, RTKIT_ABSENT, RTKIT_NO_BUS };
RtkitAnswer plat_rtkit_max_priority(int* max);
// ... and the calling thread made realtime at the priority for good
// (SCHED_RR), after lowering the process's RLIMIT_RTTIME to what the
// service asks. It limits each user to a few requests a minute: ask once.
RtkitAnswer plat_rtkit_make_realtime(int priority);
// The calling thread keeps the realtime it holds: its frames neither raise
// nor lower it (nor the nice value, which realtime threads do not use).
void plat_keep_realtime();

// Finest period of the periodic timer, in whole milliseconds.
bool plat_timer_min_period_ms(unsigned* ms);

// The periodic 1 ms tick timer of one frame, setting an auto-reset event.
// Starting gives the event and the timer, or false when either cannot be
// had (what was made is given back); the frame then goes out busy-waiting.
bool plat_tick_timer_start(std::intptr_t* event, std::intptr_t* timer);
// Consumes the event's signal, waiting at most timeout_ms for it.
bool plat_tick_wait(std::intptr_t event, unsigned timeout_ms);
void plat_tick_timer_stop(std::intptr_t event, std::intptr_t timer);
