// The Linux backend called in-process on pseudo-terminals and files; frames
// through it, from the program and from many threads, run from tests/e2e.
#include "../core/port.h"
#include "files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {

// The far end is held by the test, so that the line hangs up only when it says.
struct Pty {
    int master = -1, slave = -1;
    char name[128] = "";
    Pty() {
        openpty(&master, &slave, name, nullptr, nullptr);
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() { hang_up(); }
    void hang_up() {
        for (int* fd : {&master, &slave})
            close(std::exchange(*fd, -1));
    }
    int exclusive() const {
        int on = -1;
        return ioctl(slave, TIOCGEXCL, &on) == 0 ? on : -1;
    }
};

} // namespace

TEST(Backend, PortsDevicesConsolesClaimsAndHangUps) {
    // clang-format off
    const char* names[][2] = {
        {"COM1", "/dev/ttyS0"}, {"COM3", "/dev/ttyS2"}, {"COM256", "/dev/ttyS255"},
        {"COM257", "COM257"}, {"COM0", "COM0"}, {"COM", "COM"}, {"COM1x", "COM1x"}, {"com1", "com1"},
        {"COM99999999999", "COM99999999999"}, {"/dev/ttyUSB0", "/dev/ttyUSB0"}};
    // clang-format on
    for (auto& n : names) {
        char path[64];
        plat_port_path(n[0], path, sizeof path);
        EXPECT_STREQ(path, n[1]);
    }
    Pty pty;
    std::uint64_t by_path = 0, by_port = 0;
    EXPECT_FALSE(plat_path_device("/nonexistent", &by_path));
    int error = 0;
    EXPECT_EQ(plat_open_port("/nonexistent/tty", &error), PLAT_INVALID_HANDLE);
    EXPECT_EQ(error, ENOENT);
    // Only a terminal is a serial line: /dev/null is a character device too.
    // A device with no break condition refuses it; it has not gone.
    const std::tuple<std::string, bool, LineResult> opened[] = {
        {pty.name, true, LINE_DONE}, {"/dev/null", false, LINE_REFUSED}}; // serial or not
    for (const auto& [path, serial, brk] : opened) {
        struct stat own;
        ASSERT_EQ(stat(path.c_str(), &own), 0);
        bool character = false;
        EXPECT_TRUE(plat_path_device(path.c_str(), &by_path));
        PlatHandle port = plat_open_port(path.c_str(), &error);
        EXPECT_TRUE(plat_port_device(port, &character, &by_port));
        // Device numbers, what it is, no LIRC transmitter, its break condition.
        EXPECT_EQ(std::tuple(by_path, by_port, character, plat_is_serial_line(port),
                             plat_pulse_transmitter(port), plat_break_on(port, &error)),
                  std::tuple(own.st_rdev, own.st_rdev, true, serial, false, brk));
        EXPECT_TRUE(plat_close_port(port));
    }
    char consoles[256] = "";
    std::string active = read_file("/sys/class/tty/console/active");
    EXPECT_EQ(plat_console_names(consoles, sizeof consoles), !active.empty());
    EXPECT_EQ(consoles, active);

    PlatHandle port = plat_open_port(pty.name, &error);
    // A line already in exclusive use is someone else's.
    ioctl(pty.slave, TIOCEXCL);
    EXPECT_EQ(plat_claim_port(port), EBUSY);
    ioctl(pty.slave, TIOCNXCL);
    ASSERT_EQ(plat_claim_port(port), 0);
    EXPECT_EQ(pty.exclusive(), 1);
    EXPECT_EQ(fcntl(static_cast<int>(port), F_GETFL) & O_NONBLOCK, 0); // blocking once claimed
    // Held by flow control, the byte is dropped after a second, not sent later.
    tcflow(pty.slave, TCOOFF);
    std::int64_t before = plat_counter();
    EXPECT_FALSE(plat_write_byte(port, 0));
    EXPECT_GE(plat_counter() - before, 1000000000);
    tcflow(pty.slave, TCOON);
    char byte;
    EXPECT_EQ(read(pty.master, &byte, 1), -1); // nothing came out
    plat_release_port(port);
    EXPECT_EQ(pty.exclusive(), 0);
    pty.hang_up(); // the device is gone
    EXPECT_EQ(plat_break_off(port, &error), LINE_GONE);
    EXPECT_EQ(error, EIO);
    plat_close_port(port);
}

// Ports listed from a machine's sysfs and /dev (a tree made here), none opened.
TEST(Backend, PortsListedFromSysfs) {
    const std::string root = temp_path("root"), tty = "/sys/class/tty/",
                      usb = "/sys/devices/usb1/1-1";
    const std::string tree[][2] = {
        // files with their text, links as "-> TARGET"
        {tty + "ttyS0/type", "4\n"},
        {tty + "ttyS1/type", "0\n"}, // no UART behind ttyS1
        {tty + "ttyS10/type", "4\n"},
        {tty + "console/active", "tty0 ttyS0\n"},
        {usb + "/idVendor", "0403\n"},
        {usb + "/idProduct", "6001\n"},
        {"/dev/lirc0", ""},
        {usb + "/1-1:1.0/ttyUSB0/device", "-> ."},
        {tty + "ttyUSB0", "-> " + root + usb + "/1-1:1.0/ttyUSB0"},
        {"/dev/serial/by-id/usb-FTDI_A1-if00-port0", "-> ../../ttyUSB0"}};
    for (const auto& [path, text] : tree) {
        std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
        if (text.rfind("-> ", 0) == 0)
            EXPECT_EQ(symlink(text.c_str() + 3, (root + path).c_str()), 0);
        else
            write_file(root + path, text);
    }
    char text[1024]; // the text up to the length it tells
    EXPECT_EQ(std::string(text, plat_list_ports(root.c_str(), text, sizeof text)),
              "/dev/ttyS0 (COM1, the system console)\n/dev/ttyS10 (COM11)\n"
              "/dev/ttyUSB0 (usb 0403:6001, /dev/serial/by-id/usb-FTDI_A1-if00-port0)\n"
              "/dev/lirc0 (LIRC)\n");
    EXPECT_EQ(plat_list_ports(root.c_str(), text, 8), 7u); // cut to what fits
    std::filesystem::remove_all(root);
}

TEST(Backend, TextsTimersPrioritiesAndInterrupts) {
    EXPECT_EQ(plat_write_pulses(PLAT_INVALID_HANDLE, nullptr, 0), EBADF);
    char text[128];
    plat_error_text(EACCES, text, sizeof text);
    EXPECT_STREQ(text, "Permission denied (is your user in the dialout group?)");
    plat_error_text(ENOENT, text, sizeof text);
    EXPECT_STREQ(text, "No such file or directory");

    std::int64_t frequency = 0;
    unsigned period = 0;
    EXPECT_TRUE(plat_counter_frequency(&frequency) && plat_timer_min_period_ms(&period));
    EXPECT_EQ(std::pair(frequency, period), std::pair(std::int64_t{1000000000}, 1u));
    std::int64_t before = plat_counter();
    plat_sleep_ms(20);
    EXPECT_GE(plat_counter() - before, 20000000); // at least what was asked
    std::intptr_t event = 0, timer = 0;
    ASSERT_TRUE(plat_tick_timer_start(&event, &timer));
    EXPECT_TRUE(plat_tick_wait(event, 20) && plat_tick_wait(event, 20)); // a tick every ms
    plat_tick_timer_stop(event, timer);

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
    EXPECT_EQ(thread, sched_getscheduler(0) == SCHED_FIFO);
    sched_getaffinity(0, sizeof during, &during);
    EXPECT_EQ(CPU_COUNT(&during), 1); // pinned for the frame
    usleep(50000);                    // a frame of 50 ms needs a rest of 8.8 ms before the next
    before = plat_counter();          // the frame ends after it: its rest counts from there
    EXPECT_TRUE(plat_leave_frame_priority());
    plat_unpin_thread(&saved);
    sched_getaffinity(0, sizeof after, &after);
    EXPECT_TRUE(CPU_EQUAL(&cpus, &after)); // the thread's own processors back
    EXPECT_EQ(std::pair(getpriority(PRIO_PROCESS, 0), sched_getscheduler(0)),
              std::pair(0, SCHED_OTHER));
    plat_rest_before_frame();
    EXPECT_TRUE(!thread || plat_counter() - before >= 5000000); // a realtime frame's rest
#ifndef __SANITIZE_ADDRESS__ // whose shadow memory cannot be locked; nor under valgrind
    if (geteuid() == 0 && !std::getenv("TARVIK_TEST_SLOWDOWN")) {
        plat_lock_memory();
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
        int wrong = 0;
        for (int signal_number : {SIGHUP, SIGTERM, SIGINT}) {
            raise(signal_number);
            plat_sleep_ms(100000);
            wrong += plat_interrupted() != 128 + signal_number;
        }
        _exit(wrong);
    }
    int status = -1;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0);
}

// A recording is only ever a regular file, and one writer's; a name longer
// than the system takes is refused before any open.
TEST(Backend, RecordingsOnlyRegularFilesAndOneWriters) {
    Pty pty;
    std::string dir = temp_path("recordings"), file = dir + "/x.vcd";
    std::filesystem::create_directories(dir);
    ASSERT_EQ(mkfifo((dir + "/fifo.vcd").c_str(), 0600), 0);
    ASSERT_EQ(symlink(pty.name, (dir + "/tty.vcd").c_str()), 0);
    const std::tuple<std::string, PortProblem, int> cases[] = {
        {dir + "/fifo.vcd", PORT_NOT_FILE, 0}, // no reader: an open would block
        {dir + "/tty.vcd", PORT_NOT_FILE, 0},
        {dir + "/none/x.vcd", PORT_CANNOT_OPEN, ENOENT},
        {dir + "/" + std::string(PLAT_NAME_SIZE, 'x') + ".vcd", PORT_CANNOT_OPEN, ENAMETOOLONG},
    };
    for (const auto& [name, problem, error] : cases) {
        SCOPED_TRACE(name.substr(0, 80));
        Port port;
        PortFailure failure = {PORT_OPENED, 0};
        EXPECT_FALSE(open_port(name.c_str(), &port, &failure));
        EXPECT_EQ(std::pair(failure.problem, failure.error), std::pair(problem, error));
    }

    // Another writer (a second handle holds a lock of its own) is refused, the
    // file as the first left it; once free, the next writer starts afresh.
    write_file(file, std::string(4096, '~'));
    Port first, second;
    PortFailure failure;
    ASSERT_TRUE(open_port(file.c_str(), &first, &failure));
    std::string header = read_file(file);
    EXPECT_TRUE(header.rfind("$version tarvik", 0) == 0 && header.find('~') == std::string::npos);
    EXPECT_FALSE(open_port(file.c_str(), &second, &failure));
    EXPECT_EQ(failure.problem, PORT_IN_USE);
    EXPECT_EQ(read_file(file), header);
    EXPECT_TRUE(close_port(&first));
    ASSERT_TRUE(open_port(file.c_str(), &second, &failure)); // free again
    EXPECT_EQ(read_file(file), header);
    EXPECT_TRUE(close_port(&second));
    std::filesystem::remove_all(dir);
}
