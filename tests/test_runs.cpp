// The program's runs on the fake platform, where time is virtual: what it
// asks of the platform, in order, every frame exact to the tick.
#include "../core/timing.h"
#include "../tool/cli.h"
#include "fake_platform.h"
#include "files.h"
#ifdef TARVIK_REMOTE
#include "../remote/remote.h"
#else
const ServeRemote serve_remote = nullptr;
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

int run_on_fake(const std::string& args, const std::string& config, std::string* out,
                std::string* err) {
    fake_reset(config);
    timing = TimingState();
    std::vector<std::string> words = {"tarvik"};
    std::istringstream in(args);
    for (std::string word; std::getline(in, word, ' ');)
        words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr(); // kept from the test's own output when not asked for
    int status = tarvik_main(static_cast<int>(words.size()), argv.data(), serve_remote);
    *out = testing::internal::GetCapturedStdout();
    std::string said = testing::internal::GetCapturedStderr();
    if (err)
        *err = said;
    return status;
}

TEST(Runs, MessagesStatusesAndWhatReachesThePlatform) {
    std::string script = temp_path("runs.txt");
    write_file(script, "0 stop\n0 stop\n");
    // clang-format off
    auto unknown = [](const std::string& word) { return "tarvik: unrecognized command: " + word + "\n"; };
    auto ignoring = [](const std::string& word) { return "tarvik: ignoring \"" + word + "\", which is no option\n"; };
    auto woke = [](const std::string& frame, const std::string& port = "P") { // a wake-up, one frame
        return "open " + port + " claim lock w0 s100 rest P T " + frame + " N release close"; };
    const std::string NO_REALTIME = "tarvik: no realtime priority for this user: a busy machine can disturb frames (join the "
                                    "group tarvik, or see \"Realtime\" in man tarvik)\n";
    const std::string S = "-script " + script, O = "error opening port\n", W = "error writing port\n",
        F = "rest P T 8e/8 N", PF = "open P claim lock " + F + " release close",
        NOFILE = "tarvik: error opening file /nonexistent/s, errno=2\n",
        NOFILE_ERR = "tarvik: /nonexistent/s: No such file or directory\n",
        LISTEN = ": expected [ADDRESS:]PORT\n", RV = "tarvik: realtime: direct, priority 49\n",
        LATE = "tarvik: frame of 0x8e disturbed: a pulse ",
        U = "privileged=0 process_error=13 ", // a user like nobody
        WPT = "Warning: cannot set the process realtime priority class: err=13\n"
              "Warning: cannot set thread priority to time critical: err=1\n",
        WP = WPT.substr(0, WPT.find('\n') + 1),
        NONE = "s1 rest P msg T msg 8e/8 N s1 rest P msg T msg 8e/8 N release close",
        EDGE = " stop (0x8e): 10001110, latest edge 0 us late\n",
        V1 = "tarvik: 0.000 s:" + EDGE + "tarvik: 1 frame sent, 0 disturbed\n",
        V2 = "tarvik: 0.001 s:" + EDGE + "tarvik: 0.032 s:" + EDGE + "tarvik: 2 frames sent, 0 disturbed\n",
        CONSOLES = "console_names=tty0,ttyS0 device=/dev/tty0:0x400 device=/dev/ttyS0:0x440 ";
    struct Case { std::string args, config; int status; std::string out, err, trace; } cases[] = {
        // Command lines resolve options and codes as the Windows build does.
        {"walk_forward -port P", "", 0, "", "", woke("86/8")}, {"stop -v2 -port P", "", 0, "", "", woke("3aa/12")}, // options first
        {"0x1a0 -port P", "", 0, "", "", woke("1a0/12")}, {"0x1a0 -pet -port P", "", 0, "", "", woke("1a0/12")}, // above 0xFF: model 2
        {"0x86 -v2 -port P", "", 0, "", "", woke("86/12")}, {"0x086 -port P", "", 0, "", "", woke("86/8")},
        {"0xZZ -port P", "", 0, "", "", woke("0/8")}, {"0x -port P", "", 0, "", "", woke("0/8")}, // no hex digit reads 0
        {"0xFFFFFFFF -port P", "", 0, "", "", woke("ff/8")}, {"0x-5 -port P", "", 0, "", "", woke("fb/8")}, // -1 is not above 0xFF
        {"0x0x86 -port P", "", 0, "", "", woke("86/8")}, {"0x0x -port P", "", 0, "", "", woke("0/8")},
        {"0x\t7f -port P", "", 0, "", "", woke("7f/8")}, {"0x123456789 -port P", "", 0, "", "", woke("789/12")}, // low 32 bits
        {"0xa -port", "", 0, "", "tarvik: -port has no name after it; using COM1\n", woke("a/8", "COM1")}, {"-", "", 0, "", "", woke("8f/8", "COM1")},
        {"stop -port COM3 -port COM4", "", 0, "", "", woke("8e/8", "COM4")}, {"stop -port -v2", "", 0, "", "", woke("8e/8", "-v2")},
        {"stop -v2 -pet -port P", "", 0, "", "", woke("28e/12")}, {"stop -v2 -x -port P junk", "", 0, "", ignoring("-x") + ignoring("junk"), woke("3aa/12")},
        {"D3_walking -v2 -port P", "", 0, "", "", woke("303/12")}, {"D0stop -v2 -resend 100 -port P", "", 0, "", "", woke("3aa/12")},
        {"-h -v2", "", 1, unknown("-h"), "", ""},
        {"--version", "", 0, "tarvik " TARVIK_VERSION "\n", "", ""},
        {"--help", "", 0, read_file(TARVIK_TESTS_DIR "/expected/usage.txt"), "", ""},
        // An unreadable script is found before a port is opened, woken or recorded, or a check summed.
        {"-script /nonexistent/s", "", 1, NOFILE, NOFILE_ERR, ""}, {"-script /nonexistent/s -port x.vcd", "", 1, NOFILE, NOFILE_ERR, ""},
        {"-script /nonexistent/s -check", "", 1, NOFILE, NOFILE_ERR, ""},
#ifndef _WIN32
        // Opens, but every read fails (address 0 is not mapped): a read error, not the end.
        {"-script /proc/self/mem -port P", "", 1, "tarvik: error reading file /proc/self/mem, errno=5\n", "tarvik: /proc/self/mem: Input/output error\n", ""},
#endif
        {"-ports", "", 0, "/dev/ttyS0 (COM1)\n", "", ""}, // listed, none opened
        {"-version -port P", "", 1, unknown("-version"), "", ""}, {"-commands -port P", "", 1, unknown("-commands"), "", ""},
        {"0X86", "", 1, unknown("0X86"), "", ""}, {"xyzzy -pet", "", 1, unknown("xyzzy"), "", ""},
        // An unknown name: what may have been meant follows the message.
        {"walk_forward -v2", "", 1, unknown("walk_forward"), "tarvik: walk_forward is a MekTarvik v1 command (drop -v2)\n", ""},
        {"D3_walking -port P", "", 1, unknown("D3_walking"), "tarvik: D3_walking is a MekTarvik V2 command (add -v2)\n", ""},
        {"jump -v2", "", 1, unknown("jump"), "tarvik: jump is a Fuzlo command (-pet, not -v2)\n", ""},
        {"left_arm_ot", "", 1, unknown("left_arm_ot"), "tarvik: did you mean left_arm_out, left_arm_up or left_arm_in?\n", ""},
        {"DX_walking -v2", "", 1, unknown("DX_walking"), "tarvik: did you mean D0_walking?\n", ""}, // as listed
        {"D3_walkng -v2", "", 1, unknown("D3_walkng"), "tarvik: did you mean D3_walking?\n", ""}, // the user's direction
        {"left_arm_i", "", 1, unknown("left_arm_i"), "tarvik: did you mean left_arm_in or left_arm_up?\n", ""},
        {"turn_rigt", "", 1, unknown("turn_rigt"), "tarvik: did you mean turn_right?\n", ""}, // the first name
        // Words that are no option are named, the run goes on; a -port with no name keeps the default.
        {"stop -V2 --v2 -v3 -nowakeup -port P", "", 0, "", ignoring("-V2") + ignoring("--v2") + ignoring("-v3"), PF},
        {"stop -nowakeup -port", "", 0, "", "tarvik: -port has no name after it; using COM1\n", "open COM1 claim lock " + F + " release close"},
        {"stop -nowakeup -port P -port", "", 0, "", "tarvik: -port has no name after it; using P\n", PF},
        {"-script", "", 1, "tarvik: missing script file name after -script\n", "", ""},
#ifdef TARVIK_REMOTE
        {"-serve", "", 1, "tarvik: missing [ADDRESS:]PORT after -serve\n", "", ""}, {"-serve 80a", "", 1, "tarvik: cannot listen on 80a" + LISTEN, "", ""},
        {"-serve 65536 -port P", "", 1, "tarvik: cannot listen on 65536" + LISTEN, "", ""},
        {"-serve [::1:80 -port P", "", 1, "tarvik: cannot listen on [::1:80" + LISTEN, "", ""},
#endif
        {"nosuch -mmtimer", "min_period_ms=2", 1, "warning: the multimedia timer resolution is 2, "
         "which renders them useless\n" + unknown("nosuch"), "", ""},
        {"stop -port P", "has_counter=0", 1, "high resolution timer not supported. giving up.\n", "", ""},
        // Warnings come as they happen; the frame goes out all the same.
        {"stop -nowakeup -port P", "process_error=13 thread_error=1", 0, WPT, NO_REALTIME, "open P claim lock rest P msg T msg 8e/8 N release close"},
        // A line change that takes its time does not lengthen the pulses.
        {"stop -nowakeup -port P", "change_ticks=1000", 0, "", "", PF},
        // Each frame checked: -v describes it; a paused one is reported, and with -resend sent again.
        {"stop -nowakeup -v -port P", "", 0, "", RV + V1, PF},
        {"stop -nowakeup -resend 1 -port P", "change_ticks=3000", 0, "", // late every time: twice at most
         LATE + "0.3 ms late (the machine paused the program)\n" + LATE + "0.3 ms late (the machine paused "
         "the program)\ntarvik: 2 frames sent, 2 disturbed\n", "open P claim lock " + F + " s1 " + F + " release close"},
        {"stop -nowakeup -resend 2 -port P", "pause_at_change=5 pause_ticks=20000", 0, "", LATE + "2.0 ms late "
         "(the machine paused the program)\ntarvik: 2 frames sent, 1 disturbed\n", "open P claim lock rest P T "
         "on 66667 off 33333 on 8333 off 8333 on 20002 off 8333 on 8333 off 8333 on 8333 off 33333 on 8333 off "
         "33333 on 8333 off 33333 on 8333 off 8333 on 8333 off N s1 " + F + " release close"},
        // The tick timer: single-unit waits, or busy-waiting when it is coarse, fails, or stops mid-frame.
        {"stop -nowakeup -mmtimer -port P", "", 0, "", "", "open P claim lock rest P T tick+ t1 ~8e/8 t30 tick- N release close"},
        {"stop -nowakeup -mmtimer -port P", "min_period_ms=16", 0, "warning: the multimedia timer resolution is 16, which renders them useless\n", "", PF},
        {"stop -nowakeup -mmtimer -port P", "caps_fail=1", 0, "", "", PF},
        {"-script " + script + " -nowakeup -mmtimer -port P", "ticks_stop_at=1", 0, "", "", // never ticks
         "open P claim lock s1 rest P T tick+ t1 tick- 8e/8 N s1 rest P T tick+ t1 tick- 8e/8 N release close"},
        {"stop -nowakeup -mmtimer -port P", "tick_start_fails=1", 0, "", "", "open P claim lock rest P T tick+ 8e/8 N release close"},
        {"stop -nowakeup -mmtimer -port P", "ticks_stop_at=5", 0, "", // the fifth wait runs out
         LATE + "19.2 ms late (the machine paused the program)\ntarvik: 1 frame sent, 1 disturbed\n",
         "open P claim lock rest P T tick+ t1 on 258335 off 33333 on 8333 off 8333 on 8333 off 8333 on 8333 off 8333 "
         "on 8333 off 33333 on 8333 off 33333 on 8333 off 33333 on 8333 off 8333 on 8333 off t4 tick- N release close"},
        // Refused: the console (by name, unopened; by device once opened), no serial device, a port in use.
        {"stop", CONSOLES, 1, O, "tarvik: COM1: the system console; refusing to send to it\n", "open COM1 close"},
        {S + " -port /dev/ttyS0", CONSOLES, 1, O, "tarvik: /dev/ttyS0: the system console; refusing to send to it\n", ""},
        {"stop -port /dev/serial0", "device=/dev/console:0x440", 1, O, "tarvik: /dev/serial0: the system console; refusing to send to it\n", "open /dev/serial0 close"},
        {"stop -nowakeup -port /dev/ttyS1", CONSOLES + "port_device=0x441", 0, "", "", "open /dev/ttyS1 claim lock " + F + " release close"},
        {"stop -port notes.txt", "port_is_char=0", 1, O, "tarvik: notes.txt: not a serial device\n", "open notes.txt close"},
        {"stop -port /dev/null", "port_is_tty=0", 1, O, "tarvik: /dev/null: not a serial device\n", "open /dev/null claim release close"}, // no terminal
        {"stop -port P", "port_in_use=1", 1, O, "tarvik: P: in use by another program\n", "open P claim close"},
        {S + " -port P", "open_fails=1", 1, O, "tarvik: P: error 13\n", "open P"},
#ifdef TARVIK_REMOTE
        {"-serve 0 -port P", "open_fails=1", 1, O, "tarvik: P: error 13\n", "open P"},
#endif
        {"stop -port x.vcd", "open_fails=1", 1, O, "tarvik: x.vcd: error 13\n", ""},
        // A recording is a regular file, or untouched; a name longer than the system takes is not cut short.
        {"stop -port x.vcd", "special=x.vcd", 1, O, "tarvik: x.vcd: not a regular file for a recording\n", ""},
        {"stop -port /dev/ttyS0", CONSOLES + "name_limit=10", 1, O, "tarvik: /dev/ttyS0: error 36\n", ""},
        {"stop -port x.vcd", "name_limit=5", 1, O, "tarvik: x.vcd: error 36\n", ""},
        // A device that goes away (in the second frame: 18 changes a frame) ends the run; so does one that
        // refuses the break condition, its frame not counted as sent.
        {S + " -nowakeup -port P", "break_error=5 break_fails_from=20", 1, W, "tarvik: P: error 5\n", "open P claim lock s1 " + F + " s1 " + F + " msg release close"},
        {"stop -nowakeup -v -port P", "break_error=25 break_fails_from=1", 1, "", RV + "tarvik: P: the device "
         "refused the break condition (error 25); the frame of 0x8e was not sent\ntarvik: 0 frames sent, 0 disturbed\n", PF},
        {S + " -nowakeup -v -port P", "break_error=25 break_fails_from=20", 1, "", RV + "tarvik: 0.001 s:" + EDGE + "tarvik: P: the device refused the break condition (error 25); the "
         "frame of 0x8e was not sent\ntarvik: 1 frame sent, 0 disturbed\n", "open P claim lock s1 " + F + " s1 " + F + " release close"},
        // Ctrl-C: the frame being sent finishes, the port is closed, 130.
        {S + " -nowakeup -port P", "interrupt_at_sleep=2", 130, "", "", "open P claim lock s1 " + F + " s1 release close"},
        {"stop -port P", "interrupt_at_sleep=1", 130, "", "", "open P claim lock w0 s100 release close"},
        // Realtime, chosen once per run: the frames' own, up to the user's limit; else RTKit's, at the lower of
        // ours and its highest, the frames then keeping the thread; else none, warned every frame, said once.
        {S + " -v -nowakeup -port P", U + "rtprio_limit=20 rtkit=1", 0, WP + WP, "tarvik: realtime: direct, priority 20\n" + V2,
         "open P claim lock s1 rest P msg T 8e/8 N s1 rest P msg T 8e/8 N release close"},
        {S + " -v -nowakeup -port P", U + "rtkit=1", 0, "", "tarvik: realtime: RTKit, priority 20\n" + V2, "open P claim rtkit20 lock s1 " + F + " s1 " + F + " release close"},
        {S + " -nowakeup -port P", U + "rtkit=1 rtkit_max=99", 0, "", "", "open P claim rtkit49 lock s1 " + F + " s1 " + F + " release close"},
        {S + " -nowakeup -port P", U + "rtkit=1 rtkit_max=1", 0, "", "", "open P claim rtkit1 lock s1 " + F + " s1 " + F + " release close"},
        {S + " -nowakeup -port P", U + "rtkit=1 rtkit_max=0", 0, WPT + WPT, NO_REALTIME, "open P claim lock " + NONE}, // it grants none
        {"stop -v -nowakeup -port P", "rtprio_limit=-1", 0, "", V1, PF}, // a system without routes (Windows): none told
        {S + " -v -nowakeup -port P", U + "rtkit=2", 0, WPT + WPT, "tarvik: realtime: none\n" + NO_REALTIME + V2, "open P claim rtkit20 lock " + NONE},
        {S + " -nowakeup -port P", U, 0, WPT + WPT, NO_REALTIME, "open P claim lock " + NONE},
        {S + " -nowakeup -port P", U + "bus=0", 0, WPT + WPT, NO_REALTIME, "open P claim lock " + NONE},
        // A transmitter: the frame in one write, no wake-up, no priorities asked or said.
        {"stop -v -port /dev/lirc0", U + "pulse_device=1", 0, "", V1, "open /dev/lirc0 claim lock pulses 8e/8 release close"},
        {"stop -v2 -port /dev/lirc0", "pulse_device=1", 0, "", "", "open /dev/lirc0 claim lock pulses 3aa/12 release close"},
        {S + " -port /dev/lirc0", "pulse_device=1 pulse_error=22", 1, W, "tarvik: /dev/lirc0: error 22\n", "open /dev/lirc0 claim lock s1 pulses 8e/8 msg release close"},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args + " [" + c.config + "]");
        std::string out, err;
        EXPECT_EQ(run_on_fake(c.args, c.config, &out, &err), c.status);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, c.err);
        EXPECT_EQ(fake_trace(), c.trace);
    }
    // -resend takes a whole number from 0 to 100, or nothing is opened.
    for (const char* value :
         {" abc", " -1", " 1.5", " 3x", " 99999999999", " 101", "", " -v", " +5"}) {
        SCOPED_TRACE(value);
        std::string out, err;
        EXPECT_EQ(run_on_fake(std::string("stop -port P -resend") + value, "", &out, &err), 1);
        EXPECT_EQ(out + err + fake_trace(), "tarvik: -resend needs a whole number from 0 to 100\n");
    }
    std::remove(script.c_str());
}

// The recording port: whole files, byte for byte (100 ns a tick, times
// rounded to the microsecond), never written mid-frame.
TEST(Runs, RecordingsByteForByte) {
    const std::string golden = read_file(TARVIK_TESTS_DIR "/expected/0x5.vcd");
    std::string script = temp_path("late.txt"), out;
    write_file(script, "1100 0x0\n");
    EXPECT_EQ(run_on_fake("0x5 -port x.vcd", "", &out), 0);
    EXPECT_EQ(fake_file("x.vcd"), golden);
    EXPECT_EQ(fake_trace(), "write lock write s100 rest P T write N write close");
    // Ctrl-C in the wake-up pause: closed with the mark ended.
    EXPECT_EQ(run_on_fake("stop -port x.vcd", "interrupt_at_sleep=1", &out), 130);
    EXPECT_EQ(fake_file("x.vcd"),
              golden.substr(0, golden.find("1\"\n")) + "1\"\n#100000\n0\"\n#100833\n");
    // Past the first second too, every change at its exact time.
    EXPECT_EQ(run_on_fake("-script " + script + " -nowakeup -port x.vcd", "", &out), 0);
    std::string file = fake_file("x.vcd");
    EXPECT_EQ(file.substr(file.size() - 36), "0!\n#1119280\n1!\n#1120113\n0!\n#1120946\n");
    EXPECT_EQ(file.find("0\"", golden.find("1\"")), std::string::npos); // no wake-up, no mark
    std::remove(script.c_str());
}
