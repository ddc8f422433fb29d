// Linux backend: serial ports through termios ioctls, the counter through
// CLOCK_MONOTONIC, the periodic tick through a timerfd.
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/lirc.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

const std::int64_t NANOSECONDS = 1000000000;
const int WAKEUP_LIMIT_MS = 1000;

// "COM1".."COM256" name the first serial ports, as Windows programs expect.
bool com_device(const char* name, char* path, std::size_t size) {
    if (std::strncmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9')
        return false;
    int number = 0;
    for (const char* p = name + 3; *p; ++p) {
        if (*p < '0' || *p > '9' || number > 256)
            return false;
        number = number * 10 + (*p - '0');
    }
    if (number > 256)
        return false;
    std::snprintf(path, size, "/dev/ttyS%d", number - 1);
    return true;
}

// The kernel lets realtime threads use only part of each period (95 % by
// default) and then stops them for the rest of it, which would cut a frame
// in the middle. Back-to-back frames keep below that share by resting, at
// normal priority, before a frame when the last one needs it.
struct RealtimeBudget {
    bool read;
    double duty_limit; // 1 or more: the kernel sets no limit
    bool in_frame;
    bool had_frame;
    std::int64_t frame_start;
    std::int64_t frame_end;
} budget;

// Reads a small file (/proc, sysfs) into text, NUL-terminated; false when it
// cannot be read. Allocates nothing: the frame path reads the realtime limits.
bool read_small_file(const char* path, char* text, std::size_t size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = read(fd, text, size - 1);
    close(fd);
    if (n < 0)
        return false;
    text[n] = '\0';
    return true;
}

long read_proc_number(const char* path, long fallback) {
    char text[32];
    if (!read_small_file(path, text, sizeof text) || text[0] == '\0')
        return fallback;
    return std::strtol(text, nullptr, 10);
}

void rest_before_realtime() {
    if (!budget.read) {
        long runtime = read_proc_number("/proc/sys/kernel/sched_rt_runtime_us", 950000);
        long period = read_proc_number("/proc/sys/kernel/sched_rt_period_us", 1000000);
        // A tenth below the limit leaves room for a frame straddling a period.
        budget.duty_limit = runtime < 0 || period <= 0
                                ? 1.0
                                : static_cast<double>(runtime) / static_cast<double>(period) - 0.1;
        budget.read = true;
    }
    if (!budget.had_frame || budget.duty_limit >= 1.0)
        return;
    double limit = budget.duty_limit > 0.05 ? budget.duty_limit : 0.05;
    double frame = static_cast<double>(budget.frame_end - budget.frame_start);
    std::int64_t rest = static_cast<std::int64_t>(frame * (1.0 - limit) / limit);
    std::int64_t left = budget.frame_end + rest - plat_counter();
    if (left > 0) {
        timespec t = {static_cast<time_t>(left / NANOSECONDS),
                      static_cast<long>(left % NANOSECONDS)};
        while (nanosleep(&t, &t) != 0 && errno == EINTR) {
        }
    }
}

// The thread that holds realtime for the whole run (RTKit's grant): its
// frames leave its scheduling as it is.
bool realtime_kept;
pthread_t keeping_thread;

bool keeps_realtime() {
    return realtime_kept && pthread_equal(keeping_thread, pthread_self());
}

volatile sig_atomic_t caught_signal;

void on_interrupt(int signal_number) {
    caught_signal = signal_number;
}

// An unplugged USB adapter or a hung-up line answers EIO, ENODEV or ENXIO;
// ENOTTY and EINVAL only say the device has no break condition.
LineResult break_ioctl(PlatHandle port, unsigned long request, int* error) {
    if (ioctl(static_cast<int>(port), request) == 0)
        return LINE_DONE;
    *error = errno;
    return errno == EIO || errno == ENODEV || errno == ENXIO ? LINE_GONE : LINE_REFUSED;
}

} // namespace

bool plat_counter_frequency(std::int64_t* frequency) {
    timespec res;
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0)
        return false;
    *frequency = NANOSECONDS;
    return true;
}

std::int64_t plat_counter() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NANOSECONDS + now.tv_nsec;
}

int plat_check_name(const char* name) {
    static_assert(PATH_MAX <= PLAT_NAME_SIZE, "room for the longest name");
    return std::strlen(name) < PATH_MAX ? 0 : ENAMETOOLONG;
}

void plat_port_path(const char* name, char* path, std::size_t size) {
    if (!com_device(name, path, size))
        std::snprintf(path, size, "%s", name);
}

PlatHandle plat_open_port(const char* name, int* error) {
    char device[32];
    const char* path = com_device(name, device, sizeof device) ? device : name;
    // Not blocking in the open: a FIFO or a modem line waiting for carrier
    // would hang it.
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return PLAT_INVALID_HANDLE;
    }
    return fd;
}

bool plat_port_device(PlatHandle port, bool* character, std::uint64_t* device) {
    struct stat st;
    if (fstat(static_cast<int>(port), &st) != 0)
        return false;
    *character = S_ISCHR(st.st_mode);
    *device = st.st_rdev;
    return true;
}

bool plat_path_device(const char* path, std::uint64_t* device) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    *device = st.st_rdev;
    return true;
}

bool plat_console_names(char* names, std::size_t size) {
    return read_small_file("/sys/class/tty/console/active", names, size);
}

namespace {

// The first line of a small file, or "" when there is none.
std::string first_line(const std::string& path) {
    char text[256];
    if (!read_small_file(path.c_str(), text, sizeof text))
        return "";
    std::string line(text);
    return line.substr(0, line.find('\n'));
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    // ttyS2 before ttyS10: by length, then by name.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

// What is known of one serial line: its COM name, its USB vendor and
// product, its stable names, and whether it is the console.
std::string port_notes(const std::string& root, const std::string& name,
                       const std::string& consoles) {
    std::string notes;
    auto add = [&](const std::string& note) { notes += (notes.empty() ? "" : ", ") + note; };
    if (name.compare(0, 4, "ttyS") == 0)
        add("COM" + std::to_string(std::atoi(name.c_str() + 4) + 1));
    std::string device = root + "/sys/class/tty/" + name + "/device";
    for (std::string up = "/"; up.size() < 12; up += "../") {
        std::string vendor = first_line(device + up + "idVendor");
        if (!vendor.empty()) {
            add("usb " + vendor + ":" + first_line(device + up + "idProduct"));
            break;
        }
    }
    for (const std::string& link : entries(root + "/dev/serial/by-id")) {
        char target[256];
        ssize_t n =
            readlink((root + "/dev/serial/by-id/" + link).c_str(), target, sizeof target - 1);
        if (n > 0 &&
            std::string(target, static_cast<std::size_t>(n)).find("/" + name) != std::string::npos)
            add("/dev/serial/by-id/" + link);
    }
    if ((" " + consoles + " ").find(" " + name + " ") != std::string::npos)
        add("the system console");
    return notes;
}

} // namespace

std::size_t plat_list_ports(const char* root_dir, char* out, std::size_t size) {
    const std::string root = root_dir;
    std::string consoles = first_line(root + "/sys/class/tty/console/active"), text;
    for (const std::string& name : entries(root + "/sys/class/tty")) {
        bool usb = name.compare(0, 6, "ttyUSB") == 0 || name.compare(0, 6, "ttyACM") == 0;
        // Legacy serial ports exist whether or not a UART is there: type 0.
        std::string type = first_line(root + "/sys/class/tty/" + name + "/type");
        if (usb || (name.compare(0, 4, "ttyS") == 0 && !type.empty() && type != "0")) {
            std::string notes = port_notes(root, name, consoles);
            text += "/dev/" + name + (notes.empty() ? "" : " (" + notes + ")") + "\n";
        }
    }
    for (const std::string& name : entries(root + "/dev"))
        if (name.compare(0, 4, "lirc") == 0)
            text += "/dev/" + name + " (LIRC)\n";
    std::snprintf(out, size, "%s", text.c_str());
    return text.size() < size ? text.size() : size - 1;
}

// An advisory lock as other serial programs take it, and exclusive use, which
// keeps other users' programs out (though not root's). A port already in
// exclusive use belongs to someone else, whatever our rights.
int plat_claim_port(PlatHandle port) {
    int fd = static_cast<int>(port);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (isatty(fd)) {
        int exclusive = 0;
        if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
            return EBUSY;
        ioctl(fd, TIOCEXCL);
    }
    return 0;
}

bool plat_error_in_use(int error) {
    return error == EBUSY;
}

// Only claimed ports come here, and every claimed line is one this program
// made exclusive.
void plat_release_port(PlatHandle port) {
    int fd = static_cast<int>(port);
    if (isatty(fd))
        ioctl(fd, TIOCNXCL);
}

bool plat_close_port(PlatHandle port) {
    return close(static_cast<int>(port)) == 0;
}

bool plat_write_byte(PlatHandle port, unsigned char byte) {
    int fd = static_cast<int>(port);
    pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, WAKEUP_LIMIT_MS) != 1 || !(p.revents & POLLOUT))
        return false;
    if (write(fd, &byte, 1) != 1)
        return false;
    if (!isatty(fd))
        return true;
    // Wait for the byte to leave, as a synchronous write does; when flow
    // control holds it, drop it rather than hang now or at close.
    for (int waited = 0;; ++waited) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued == 0)
            return true;
        if (waited == WAKEUP_LIMIT_MS) {
            tcflush(fd, TCOFLUSH);
            return false;
        }
        plat_sleep_ms(1);
    }
}

LineResult plat_break_on(PlatHandle port, int* error) {
    return break_ioctl(port, TIOCSBRK, error);
}
LineResult plat_break_off(PlatHandle port, int* error) {
    return break_ioctl(port, TIOCCBRK, error);
}

// /dev/null, /dev/zero and the like are character devices too, but take
// no break condition: only a terminal's settings tell a serial line.
bool plat_is_serial_line(PlatHandle port) {
    termios settings;
    return tcgetattr(static_cast<int>(port), &settings) == 0;
}

bool plat_pulse_transmitter(PlatHandle port) {
    int fd = static_cast<int>(port);
    std::uint32_t features = 0;
    if (isatty(fd) || ioctl(fd, LIRC_GET_FEATURES, &features) != 0 ||
        !(features & LIRC_CAN_SEND_PULSE))
        return false;
    std::uint32_t mode = LIRC_MODE_PULSE;
    // A transmitter that will not take pulses is none for us.
    return ioctl(fd, LIRC_SET_SEND_MODE, &mode) == 0;
}

// The whole frame in one write, as the LIRC interface takes it.
int plat_write_pulses(PlatHandle port, const std::uint32_t* us, int count) {
    std::size_t size = static_cast<std::size_t>(count) * sizeof *us;
    ssize_t written;
    do {
        written = write(static_cast<int>(port), us, size);
    } while (written < 0 && errno == EINTR);
    if (written < 0)
        return errno;
    return static_cast<std::size_t>(written) == size ? 0 : EIO;
}

void plat_error_text(int error, char* text, std::size_t size) {
    const char* hint = error == EACCES ? " (is your user in the dialout group?)" : "";
    std::snprintf(text, size, "%s%s", std::strerror(error), hint);
}

// Looked at before it is opened, so that a device behind the name (a link to
// a serial line, whose control lines an open would raise) is never opened;
// and again once open, for what changed in between. Not blocking: a FIFO
// put there meanwhile would hang the open.
PlatHandle plat_open_file(const char* name, bool* regular, int* error) {
    struct stat st;
    *regular = stat(name, &st) != 0 || S_ISREG(st.st_mode);
    if (!*regular)
        return PLAT_INVALID_HANDLE;
    int fd = open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = errno;
        return PLAT_INVALID_HANDLE;
    }
    *regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!*regular) {
        close(fd);
        return PLAT_INVALID_HANDLE;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Each open holds its own lock: a second handle in this same process is
// another writer too.
int plat_claim_file(PlatHandle file) {
    if (flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0)
        return 0;
    return errno == EWOULDBLOCK ? EBUSY : errno;
}

int plat_truncate_file(PlatHandle file) {
    return ftruncate(static_cast<int>(file), 0) == 0 ? 0 : errno;
}

bool plat_write_file(PlatHandle file, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = write(static_cast<int>(file), data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

void plat_sleep_ms(unsigned ms) {
    timespec t = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (!caught_signal && nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

void plat_catch_interrupts() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_interrupt; // no SA_RESTART: waits end at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

int plat_interrupted() {
    return caught_signal ? 128 + caught_signal : 0;
}

// Pages lock as they are touched, so nothing is faulted in wholesale. Without
// the right to lock, frames simply go out as they would have.
void plat_lock_memory() {
    mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT);
}

void plat_lock_present_memory() {
    munlockall();
    mlockall(MCL_CURRENT | MCL_ONFAULT);
}

void plat_allow_open_files(unsigned count) {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= count)
        return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= count
                         ? static_cast<rlim_t>(count)
                         : limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

// Linux's nice value is per thread: this raises the frame's thread alone,
// never a host program's other threads.
bool plat_raise_process_priority(long* error) {
    if (keeps_realtime())
        return true;
    if (setpriority(PRIO_PROCESS, 0, -20) != 0) {
        *error = errno;
        return false;
    }
    return true;
}

void plat_rest_before_frame() {
    rest_before_realtime();
}

bool plat_raise_thread_priority(int priority, long* error) {
    sched_param p;
    std::memset(&p, 0, sizeof p);
    p.sched_priority = priority;
    // A kept grant is only checked: RTKit takes it back from threads it
    // finds starving the machine.
    bool kept = keeps_realtime();
    if (kept ? (sched_getscheduler(0) & ~SCHED_RESET_ON_FORK) != SCHED_RR
             : sched_setscheduler(0, SCHED_FIFO, &p) != 0) {
        *error = kept ? EPERM : errno;
        return false;
    }
    budget.in_frame = true;
    budget.frame_start = plat_counter();
    return true;
}

bool plat_leave_frame_priority() {
    setpriority(PRIO_PROCESS, 0, 0);
    sched_param p;
    std::memset(&p, 0, sizeof p);
    bool restored = keeps_realtime() || sched_setscheduler(0, SCHED_OTHER, &p) == 0;
    if (budget.in_frame) {
        budget.frame_end = plat_counter();
        budget.had_frame = true;
        budget.in_frame = false;
    }
    return restored;
}

// The set is the calling thread's (pid 0 is the caller in these calls), kept
// by the caller: threads that send in turn each get their own back.
static_assert(sizeof(cpu_set_t) <= sizeof(PlatCpuSet::cpus), "room for the system's CPU set");

void plat_pin_thread(PlatCpuSet* saved) {
    cpu_set_t own;
    int cpu = sched_getcpu();
    saved->pinned = cpu >= 0 && sched_getaffinity(0, sizeof own, &own) == 0;
    if (!saved->pinned)
        return;
    std::memcpy(saved->cpus, &own, sizeof own);
    cpu_set_t here;
    CPU_ZERO(&here);
    CPU_SET(cpu, &here);
    sched_setaffinity(0, sizeof here, &here);
}

void plat_unpin_thread(const PlatCpuSet* saved) {
    if (!saved->pinned)
        return;
    cpu_set_t own;
    std::memcpy(&own, saved->cpus, sizeof own);
    sched_setaffinity(0, sizeof own, &own);
}

int plat_realtime_limit() {
    rlimit limit;
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0)
        return 0;
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 99
               ? 99
               : static_cast<int>(limit.rlim_cur);
}

bool plat_realtime_allowed(int priority) {
    sched_param p;
    std::memset(&p, 0, sizeof p);
    p.sched_priority = priority;
    if (sched_setscheduler(0, SCHED_FIFO, &p) != 0)
        return false;
    p.sched_priority = 0;
    sched_setscheduler(0, SCHED_OTHER, &p);
    return true;
}

void plat_keep_realtime() {
    keeping_thread = pthread_self();
    realtime_kept = true;
}

#ifndef TARVIK_RTKIT
// Built without sd-bus: no way to the system bus.
RtkitAnswer plat_rtkit_max_priority(int*) {
    return RTKIT_NO_BUS;
}
RtkitAnswer plat_rtkit_make_realtime(int) {
    return RTKIT_NO_BUS;
}
#endif

bool plat_timer_min_period_ms(unsigned* ms) {
    timespec res;
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0)
        return false;
    std::int64_t ns = static_cast<std::int64_t>(res.tv_sec) * NANOSECONDS + res.tv_nsec;
    *ms = static_cast<unsigned>((ns + 999999) / 1000000);
    return true;
}

// A timerfd is both the timer and its event; Linux timers need no
// resolution request.
bool plat_tick_timer_start(std::intptr_t* event, std::intptr_t* timer) {
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (fd < 0)
        return false;
    itimerspec period;
    period.it_interval.tv_sec = 0;
    period.it_interval.tv_nsec = 1000000;
    period.it_value = period.it_interval;
    if (timerfd_settime(fd, 0, &period, nullptr) != 0) {
        close(fd);
        return false;
    }
    *event = *timer = fd + 1; // fd 0 is valid, 0 means none
    return true;
}

void plat_tick_timer_stop(std::intptr_t event, std::intptr_t) {
    close(static_cast<int>(event - 1));
}

bool plat_tick_wait(std::intptr_t event, unsigned timeout_ms) {
    int fd = static_cast<int>(event - 1);
    pollfd p = {fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&p, 1, static_cast<int>(timeout_ms));
    } while (ready < 0 && errno == EINTR);
    if (ready != 1)
        return false;
    std::uint64_t expirations;
    return read(fd, &expirations, sizeof expirations) == sizeof expirations;
}
