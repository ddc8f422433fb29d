// Which devices the program takes as its port, and what it does to the ones
// it refuses: nothing but open and close them.
#include "fake_platform.h"
#include "main_on_fake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The port's part of a run: open, claim, lock (memory), wake, frame, release,
// close; a frame's line changes count as one "frame".
std::string port_trace() {
    std::string out;
    auto add = [&](const char* item) { out += (out.empty() ? "" : " ") + std::string(item); };
    bool in_frame = false;
    for (const FakeCall& c : fake_calls()) {
        bool line = c.op == OP_BREAK_ON || c.op == OP_BREAK_OFF;
        if (line && !in_frame)
            add("frame");
        in_frame = line || (in_frame && c.op != OP_NORMAL_PROCESS);
        switch (c.op) {
        case OP_OPEN:
            add("open");
            break;
        case OP_CLAIM:
            add("claim");
            break;
        case OP_LOCK_MEMORY:
            add("lock");
            break;
        case OP_WRITE_BYTE:
            add("wake");
            break;
        case OP_RELEASE:
            add("release");
            break;
        case OP_CLOSE:
            add("close");
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace

TEST(Ports, RefusedDevicesAreOnlyOpenedAndClosed) {
    // COM1 is the machine's console, as on many virtual machines; the fake
    // does not map COM names, so COM1 and a link are caught once opened.
    FakeConfig console;
    console.console_names = "tty0 ttyS0\n";
    console.devices = {{"/dev/tty0", 0x400}, {"/dev/ttyS0", 0x440}};
    console.port_device = 0x440;
    FakeConfig console_itself; // the port is /dev/console or a link to it
    console_itself.devices = {{"/dev/console", 0x501}};
    console_itself.port_device = 0x501;
    FakeConfig other_line = console;
    other_line.port_device = 0x441;
    FakeConfig file;
    file.port_is_char = false;
    FakeConfig held;
    held.port_in_use = true;
    FakeConfig denied;
    denied.open_fails = true;
    FakeConfig gone;
    gone.break_error = gone.gone_error;
    gone.break_fails_from = 3;
    FakeConfig no_break;
    no_break.break_error = 25;
    no_break.break_fails_from = 1;

    const std::string refused = "error opening port\n";
    struct Case {
        std::vector<std::string> args;
        FakeConfig config;
        int status;
        std::string printed, errors, trace;
    } cases[] = {
        {{"stop"},
         console,
         1,
         refused,
         "tarvik: COM1: the system console; refusing to send to it\n",
         "open close"},
        {{"stop", "-port", "/dev/serial0"},
         console,
         1,
         refused,
         "tarvik: /dev/serial0: the system console; refusing to send to it\n",
         "open close"},
        {{"-script", "never-read.txt", "-port", "/dev/console"},
         console_itself,
         1,
         refused,
         "tarvik: /dev/console: the system console; refusing to send to it\n",
         ""}, // known by its name: not even opened
        {{"stop", "-port", "/dev/ttyS0"},
         console,
         1,
         refused,
         "tarvik: /dev/ttyS0: the system console; refusing to send to it\n",
         ""},
        {{"stop", "-port", "/dev/ttyS1"},
         other_line,
         0,
         "",
         "",
         "open claim lock wake frame release close"},
        {{"stop", "-port", "notes.txt"},
         file,
         1,
         refused,
         "tarvik: notes.txt: not a serial device\n",
         "open close"},
        {{"stop", "-port", "P"},
         held,
         1,
         refused,
         "tarvik: P: in use by another program\n",
         "open claim close"},
        {{"stop", "-port", "P"}, denied, 1, refused, "tarvik: P: error 13\n", "open"},
        {{"stop", "-port", "x.vcd"}, denied, 1, refused, "tarvik: x.vcd: error 13\n", ""},
        {{"stop", "-port", "P"},
         gone,
         1,
         "error writing port\n",
         "tarvik: P: error 5\n",
         "open claim lock wake frame release close"},
        {{"stop", "-port", "P"}, no_break, 0, "", "", "open claim lock wake frame release close"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::string printed, errors;
        EXPECT_EQ(run_main_on_fake(c.args, c.config, &printed, &errors), c.status);
        EXPECT_EQ(printed, c.printed);
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(port_trace(), c.trace);
    }
}
