// The Linux backend itself, on pseudo-terminals and files: what each call
// does to the device, without the program around it.
#include "../core/frame.h"
#include "../core/timing.h"
#include "../platform/platform.h"
#include "files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

struct Pty {
    int master = -1;
    int slave = -1; // held open by the test so the line hangs up only when it says
    std::string name;
};

Pty open_pty() {
    Pty pty;
    char name[128];
    if (openpty(&pty.master, &pty.slave, name, nullptr, nullptr) != 0)
        std::abort();
    pty.name = name;
    fcntl(pty.master, F_SETFL, O_NONBLOCK);
    return pty;
}

void close_pty(Pty& pty) {
    close(pty.master);
    close(pty.slave);
}

// Everything written to the port so far.
std::string read_master(const Pty& pty) {
    std::string out;
    char buf[256];
    for (ssize_t n; (n = read(pty.master, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    return out;
}

// A recording's break line: one "1" per change to break on, "0" per off.
std::string break_changes(const std::string& vcd) {
    std::string changes;
    for (std::size_t at = vcd.find("$end", vcd.find("$dumpvars")); at != std::string::npos;
         at = vcd.find('!', at + 1))
        if (vcd[at - 2] == '\n')
            changes += vcd[at - 1];
    return changes;
}

} // namespace

TEST(Backend, PortNamesDevicesAndConsoles) {
    struct Case {
        const char* name;
        const char* path;
    } cases[] = {
        // clang-format off
        {"COM1", "/dev/ttyS0"}, {"COM3", "/dev/ttyS2"}, {"COM256", "/dev/ttyS255"},
        {"COM257", "COM257"}, {"COM0", "COM0"}, {"COM", "COM"}, {"COM1x", "COM1x"}, {"com1", "com1"},
        {"COM99999999999", "COM99999999999"}, {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        // clang-format on
    };
    for (const Case& c : cases) {
        char path[64];
        plat_port_path(c.name, path, sizeof path);
        EXPECT_STREQ(path, c.path);
    }
    Pty pty = open_pty();
    std::string notes = temp_path("backend.txt");
    write_file(notes, "x");
    struct stat st;
    ASSERT_EQ(stat(pty.name.c_str(), &st), 0);
    std::uint64_t device = 0;
    EXPECT_TRUE(plat_path_device(pty.name.c_str(), &device));
    EXPECT_EQ(device, st.st_rdev);
    EXPECT_FALSE(plat_path_device(notes.c_str(), &device));
    EXPECT_FALSE(plat_path_device("/nonexistent", &device));
    int error = 0;
    EXPECT_EQ(plat_open_port("/nonexistent/tty", &error), PLAT_INVALID_HANDLE);
    EXPECT_EQ(error, ENOENT);
    // Only a terminal is a serial line: /dev/null is a character device too.
    struct Opened {
        std::string path;
        bool character, serial;
        LineResult brk;
    } opened[] = {
        {pty.name, true, true, LINE_DONE},
        {notes, false, false, LINE_REFUSED},
        {"/dev/null", true, false, LINE_REFUSED},
    };
    for (const Opened& o : opened) {
        SCOPED_TRACE(o.path);
        PlatHandle port = plat_open_port(o.path.c_str(), &error);
        ASSERT_NE(port, PLAT_INVALID_HANDLE);
        bool character = false;
        device = 0;
        struct stat own;
        ASSERT_EQ(stat(o.path.c_str(), &own), 0);
        EXPECT_TRUE(plat_port_device(port, &character, &device));
        EXPECT_EQ(character, o.character);
        EXPECT_EQ(device, own.st_rdev);
        EXPECT_EQ(plat_is_serial_line(port), o.serial);
        EXPECT_FALSE(plat_pulse_transmitter(port));
        EXPECT_EQ(plat_break_on(port, &error), o.brk);
        EXPECT_TRUE(plat_close_port(port));
    }
    EXPECT_EQ(read_file(notes), "x"); // what is no port is left as it was
    EXPECT_FALSE(plat_close_port(PLAT_INVALID_HANDLE));
    char names[256] = "";
    std::string active = read_file("/sys/class/tty/console/active");
    EXPECT_EQ(plat_console_names(names, sizeof names), !active.empty());
    EXPECT_EQ(names, active);
    std::remove(notes.c_str());
    close_pty(pty);
}

// Ports listed from a machine's sysfs and /dev (here a tree of files made
// for it), none of them opened.
TEST(Backend, PortsListedFromSysfs) {
    std::string root = temp_path("root"), usb = root + "/sys/devices/usb1/1-1";
    for (std::string dir :
         {"/sys/class/tty/ttyS0", "/sys/class/tty/ttyS1", "/sys/class/tty/ttyS10",
          "/sys/class/tty/console", "/sys/devices/usb1/1-1/1-1:1.0/ttyUSB0", "/dev/serial/by-id"})
        std::filesystem::create_directories(root + dir);
    write_file(root + "/sys/class/tty/ttyS0/type", "4\n");
    write_file(root + "/sys/class/tty/ttyS1/type", "0\n"); // no UART behind it
    write_file(root + "/sys/class/tty/ttyS10/type", "4\n");
    write_file(root + "/sys/class/tty/console/active", "tty0 ttyS0\n");
    write_file(usb + "/idVendor", "0403\n");
    write_file(usb + "/idProduct", "6001\n");
    write_file(root + "/dev/lirc0", "");
    EXPECT_EQ(
        symlink((usb + "/1-1:1.0/ttyUSB0").c_str(), (root + "/sys/class/tty/ttyUSB0").c_str()), 0);
    EXPECT_EQ(symlink("../../ttyUSB0", (root + "/dev/serial/by-id/usb-FTDI_A1-if00-port0").c_str()),
              0);
    std::string device = root + "/sys/class/tty/ttyUSB0/device";
    EXPECT_EQ(symlink(".", device.c_str()), 0);
    char text[1024];
    std::size_t length = plat_list_ports(root.c_str(), text, sizeof text);
    EXPECT_EQ(length, std::strlen(text));
    EXPECT_STREQ(text, "/dev/ttyS0 (COM1, the system console)\n/dev/ttyS10 (COM11)\n"
                       "/dev/ttyUSB0 (usb 0403:6001, /dev/serial/by-id/usb-FTDI_A1-if00-port0)\n"
                       "/dev/lirc0 (LIRC)\n");
    EXPECT_EQ(plat_list_ports(root.c_str(), text, 8), 7u); // cut to what fits
    std::filesystem::remove_all(root);
}

TEST(Backend, ClaimWakeBreakAndHangUp) {
    Pty pty = open_pty();
    int error = 0, exclusive = -1;
    PlatHandle port = plat_open_port(pty.name.c_str(), &error);
    // A line already in exclusive use is someone else's.
    ioctl(pty.slave, TIOCEXCL);
    EXPECT_EQ(plat_claim_port(port), EBUSY);
    ioctl(pty.slave, TIOCNXCL);
    ASSERT_EQ(plat_claim_port(port), 0);
    EXPECT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    EXPECT_EQ(fcntl(static_cast<int>(port), F_GETFL) & O_NONBLOCK, 0); // blocking once claimed
    // A second claim, as another program would make it: the lock holds.
    PlatHandle second = plat_open_port(pty.name.c_str(), &error);
    if (second != PLAT_INVALID_HANDLE) { // only root may open an exclusive line
        EXPECT_EQ(plat_claim_port(second), EBUSY);
        plat_close_port(second);
    }
    EXPECT_TRUE(plat_error_in_use(EBUSY));
    EXPECT_FALSE(plat_error_in_use(EACCES));

    EXPECT_TRUE(plat_write_byte(port, 0));
    EXPECT_EQ(read_master(pty), std::string(1, '\0'));
    // Held by flow control, the byte is dropped after a second, not sent later.
    tcflow(pty.slave, TCOOFF);
    std::int64_t before = plat_counter();
    EXPECT_FALSE(plat_write_byte(port, 0));
    EXPECT_GE(plat_counter() - before, 1000000000);
    tcflow(pty.slave, TCOON);
    EXPECT_EQ(read_master(pty), "");
    EXPECT_EQ(plat_break_on(port, &error), LINE_DONE);
    EXPECT_EQ(plat_break_off(port, &error), LINE_DONE);
    plat_release_port(port);
    EXPECT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);

    close_pty(pty); // the line hangs up: the device is gone
    EXPECT_EQ(plat_break_on(port, &error), LINE_GONE);
    EXPECT_EQ(error, EIO);
    EXPECT_EQ(plat_break_off(port, &error), LINE_GONE);
    EXPECT_FALSE(plat_write_byte(port, 0));
    plat_close_port(port);
}

TEST(Backend, FilesTextsTimersAndPriorities) {
    std::string path = temp_path("pulses.bin");
    int error = 0;
    bool regular = false;
    PlatHandle file = plat_open_file(path.c_str(), &regular, &error);
    ASSERT_NE(file, PLAT_INVALID_HANDLE);
    const std::uint32_t us[] = {6667, 833};
    EXPECT_EQ(plat_write_pulses(file, us, 2), 0);
    EXPECT_TRUE(plat_write_file(file, "ab", 2));
    plat_close_port(file);
    EXPECT_EQ(read_file(path), std::string(reinterpret_cast<const char*>(us), 8) + "ab");
    EXPECT_EQ(plat_open_file("/nonexistent/x", &regular, &error), PLAT_INVALID_HANDLE);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(plat_write_pulses(file, us, 2), EBADF);
    std::remove(path.c_str());
    char text[128];
    plat_error_text(EACCES, text, sizeof text);
    EXPECT_STREQ(text, "Permission denied (is your user in the dialout group?)");
    plat_error_text(ENOENT, text, sizeof text);
    EXPECT_STREQ(text, "No such file or directory");

    std::int64_t frequency = 0;
    unsigned period = 0;
    EXPECT_TRUE(plat_counter_frequency(&frequency));
    EXPECT_EQ(frequency, 1000000000);
    EXPECT_TRUE(plat_timer_min_period_ms(&period));
    EXPECT_EQ(period, 1u);
    std::int64_t before = plat_counter();
    plat_sleep_ms(20);
    EXPECT_GE(plat_counter() - before, 20000000); // at least what was asked
    std::intptr_t event = 0, timer = 0;
    ASSERT_TRUE(plat_tick_timer_start(&event, &timer));
    EXPECT_TRUE(plat_tick_wait(event, 20)); // a tick every millisecond
    EXPECT_TRUE(plat_tick_wait(event, 20));
    plat_tick_timer_stop(event, timer);
    EXPECT_EQ(fcntl(static_cast<int>(event - 1), F_GETFD), -1); // closed

    // Raised for a frame, normal after it (not whatever they were before).
    cpu_set_t cpus, during, after;
    sched_getaffinity(0, sizeof cpus, &cpus);
    long process_error = 0, thread_error = 0;
    plat_rest_before_frame();
    bool process = plat_raise_process_priority(&process_error);
    // The run's probe answers as a frame's raise does, and leaves the thread normal.
    bool allowed = plat_realtime_allowed(49);
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
    bool thread = plat_raise_thread_priority(49, &thread_error);
    EXPECT_EQ(thread, allowed);
    PlatCpuSet saved;
    plat_pin_thread(&saved);
    EXPECT_EQ(process, getpriority(PRIO_PROCESS, 0) == -20);
    EXPECT_TRUE(process || geteuid() != 0); // root may
    EXPECT_EQ(process, process_error == 0);
    EXPECT_EQ(thread, sched_getscheduler(0) == SCHED_FIFO);
    sched_getaffinity(0, sizeof during, &during);
    EXPECT_EQ(CPU_COUNT(&during), 1); // pinned for the frame
    EXPECT_TRUE(plat_leave_frame_priority());
    plat_unpin_thread(&saved);
    sched_getaffinity(0, sizeof after, &after);
    EXPECT_TRUE(CPU_EQUAL(&cpus, &after));
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 0);
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
    if (thread) { // a frame of 50 ms needs a rest of 8.8 ms before the next
        plat_raise_thread_priority(49, &thread_error);
        usleep(50000);
        plat_leave_frame_priority();
        std::int64_t start = plat_counter();
        plat_rest_before_frame();
        EXPECT_GE(plat_counter() - start, 5000000);
    }
#ifndef __SANITIZE_ADDRESS__ // whose shadow memory cannot be locked
    if (geteuid() == 0 && !std::getenv("TARVIK_TEST_SLOWDOWN")) { // not under valgrind
        plat_lock_memory();
        EXPECT_NE(read_file("/proc/self/status").find("VmLck:"), std::string::npos);
        EXPECT_EQ(read_file("/proc/self/status").find("VmLck:\t       0 kB"), std::string::npos);
        munlockall();
    }
#endif

    // An interruption ends sleeps at once, and asks for 128 + its number (in
    // a child: the handlers and the caught signal stay with it).
    EXPECT_EQ(plat_interrupted(), 0);
    pid_t child = fork();
    if (child == 0) {
        alarm(60); // ends it, should a sleep never end
        plat_catch_interrupts();
        for (int signal_number : {SIGHUP, SIGTERM, SIGINT}) {
            raise(signal_number);
            before = plat_counter();
            plat_sleep_ms(100000);
            if (plat_counter() - before > 50000000000 || plat_interrupted() != 128 + signal_number)
                _exit(1);
        }
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
}

namespace {

int timer_descriptors() {
    int count = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code failed;
        count += std::filesystem::read_symlink(fd.path(), failed) == "anon_inode:[timerfd]";
    }
    return count;
}

} // namespace

// A recording is only ever a regular file, and one writer's: anything else
// behind the name is refused untouched, and so is a file another writer
// holds; a name longer than the system takes is refused before any open.
TEST(Backend, RecordingsOnlyRegularFilesAndOneWriters) {
    Pty pty = open_pty();
    std::string dir = temp_path("recordings"), file = dir + "/x.vcd";
    std::filesystem::create_directories(dir + "/dir.vcd");
    ASSERT_EQ(mkfifo((dir + "/fifo.vcd").c_str(), 0600), 0);
    ASSERT_EQ(symlink(pty.name.c_str(), (dir + "/tty.vcd").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", (dir + "/null.vcd").c_str()), 0);
    struct Case {
        std::string name;
        PortProblem problem;
        int error;
    } cases[] = {
        {dir + "/fifo.vcd", PORT_NOT_FILE, 0}, // no reader: an open would block
        {dir + "/tty.vcd", PORT_NOT_FILE, 0},
        {dir + "/null.vcd", PORT_NOT_FILE, 0},
        {dir + "/dir.vcd", PORT_NOT_FILE, 0},
        {dir + "/none/x.vcd", PORT_CANNOT_OPEN, ENOENT},
        {dir + "/" + std::string(PATH_MAX, 'x') + ".vcd", PORT_CANNOT_OPEN, ENAMETOOLONG},
        {std::string(PATH_MAX, '/') + "dev/ttyS0", PORT_CANNOT_OPEN, ENAMETOOLONG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 80));
        Port port;
        PortFailure failure = {PORT_OPENED, 0};
        EXPECT_FALSE(open_port(c.name.c_str(), &port, &failure));
        EXPECT_EQ(failure.problem, c.problem);
        EXPECT_EQ(failure.error, c.error);
    }
    int exclusive = -1;
    EXPECT_EQ(read_master(pty), "");
    EXPECT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    struct stat st;
    EXPECT_TRUE(stat((dir + "/fifo.vcd").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));

    // Another program's lock, then a second handle in this one: refused,
    // the file as its writer left it.
    write_file(file, "theirs");
    int other = open(file.c_str(), O_RDONLY);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    Port first, second;
    PortFailure failure;
    EXPECT_FALSE(open_port(file.c_str(), &first, &failure));
    EXPECT_EQ(failure.problem, PORT_IN_USE);
    EXPECT_EQ(read_file(file), "theirs");
    close(other);
    ASSERT_TRUE(open_port(file.c_str(), &first, &failure));
    std::string header = read_file(file);
    EXPECT_EQ(header.rfind("$version tarvik", 0), 0u);
    EXPECT_FALSE(open_port(file.c_str(), &second, &failure));
    EXPECT_EQ(failure.problem, PORT_IN_USE);
    EXPECT_EQ(read_file(file), header);
    EXPECT_TRUE(close_port(&first));
    ASSERT_TRUE(open_port(file.c_str(), &second, &failure)); // free again
    EXPECT_TRUE(close_port(&second));
    close_pty(pty);
    std::filesystem::remove_all(dir);
}

// Frames leave a thread as they found it: on its own processors (the frame
// pins it to one, each thread gets its own set back), with no timer
// descriptor left, whatever the mode said when the frame ended.
TEST(Backend, FramesLeaveTheThreadAsTheyFoundIt) {
    std::int64_t frequency = 0;
    plat_counter_frequency(&frequency);
    init_timing(frequency);
    std::string path = temp_path("threads.vcd");
    Port port;
    ASSERT_TRUE(open_port(path.c_str(), &port));
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    int last = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all))
            last = cpu;
    cpu_set_t only_last;
    CPU_ZERO(&only_last);
    CPU_SET(last, &only_last);
    int before = timer_descriptors();
    for (const cpu_set_t& own : {all, only_last, all}) {
        cpu_set_t after;
        std::thread sender([&] {
            sched_setaffinity(0, sizeof own, &own);
            for (int mode : {0, 1}) {
                timing.use_mm_timer = mode;
                send_frame(&port, 0x86, MODEL_V1, false);
            }
            start_tick_timer(); // the mode switched off within the frame
            timing.use_mm_timer = 0;
            stop_tick_timer();
            sched_getaffinity(0, sizeof after, &after);
        });
        sender.join();
        EXPECT_TRUE(CPU_EQUAL(&own, &after)) << CPU_COUNT(&own) << " " << CPU_COUNT(&after);
    }
    EXPECT_EQ(timer_descriptors(), before);
    EXPECT_TRUE(close_port(&port));
    std::string frame = "1" + std::string(8 * 2, '0') + "0"; // an 8-bit frame's changes
    for (std::size_t i = 1; i < 17; i += 2)
        frame[i + 1] = '1';
    std::string six;
    for (int i = 0; i < 6; ++i)
        six += frame;
    EXPECT_EQ(break_changes(read_file(path)), six);
    std::remove(path.c_str());
}
