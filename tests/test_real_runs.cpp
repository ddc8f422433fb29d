// The real deliverables, end to end: the program natively and under wine,
// the Java library in a JVM. In the rows, PTY stands for a pseudo-terminal
// (COM9 under wine), VCD for a recording, FILE for an ordinary file, DIR for
// a folder and SCRIPT for a file holding the row's script.
#include "e2e.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum Runner { NATIVE, WINE, JAVA };
enum Act {
    RUN,
    STDIN,     // the script comes on standard input
    INTERRUPT, // Ctrl-C once the wake-up byte is out
    PULL,      // the line hangs up once the wake-up byte is out
    HOLD,      // another program holds the port
    LIRC,      // FILE stands in for a LIRC transmitter
};

struct Row {
    Runner runner;
    std::string args, script;
    Act act;
    int status;
    std::string out;    // "@NAME": a file in tests/expected; "*": anything
    std::string err;    // the program's lines; a final "*" matches any rest
    std::string bytes;  // what reached the port (the pulse lengths, for LIRC)
    std::string frames; // the line changes at PTY or VCD ("*": any), their widths in bits
};

std::string times(int n, const std::string& line) {
    std::string text;
    while (n-- > 0)
        text += line;
    return text;
}

const std::string
    CRLF = "# three frames\r\n20 walk_forward\r\n10 0x3aa\r\n\r\n5\r\n\x1a"
           "1 stop\r\n",
    LONG = times(500, "0 stop\n"), O = "error opening port\n", W0(1, '\0'),
    CHECKED = "line 1: 0.120 s: walk_forward (0x86): 10000110\n1 frame; 0.148 s in all\n";

const Row rows[] = {
    // clang-format off
    {NATIVE, "--version", "", RUN, 0, "tarvik " TARVIK_VERSION "\n", "", "", ""},
    {NATIVE, "-script SCRIPT -check -port PTY", "20 walk_forward\n", RUN, 0, CHECKED, "", "", ""},
    {NATIVE, "walk_forward -port PTY", "", RUN, 0, "", "", W0, "8"},
    {NATIVE, "walk_forward -v -resend 1 -port PTY", "", RUN, 0, "", "tarvik: *", W0, "*"},
    {NATIVE, "0x3aa -nowakeup -mmtimer -port PTY", "", RUN, 0, "", "", "", "12"},
    {NATIVE, "-script SCRIPT -port PTY", CRLF, RUN, 0, "", "", W0, "8 8 8"},
    {NATIVE, "stop -v2 -port VCD", "", RUN, 0, "", "", "", "12"},
    {NATIVE, "-script - -pet -nowakeup -port VCD", "0 stop\r\n5 nosuch\n5 rock\n", STDIN, 0,
     "tarvik: unrecognized command: nosuch\n", "", "", "12 12"},
    {NATIVE, "-script SCRIPT -port PTY", LONG, INTERRUPT, 130, "", "", "", "*"},
    {NATIVE, "-script SCRIPT -port PTY", LONG, PULL, 1, "error writing port\n",
     "tarvik: PTY: Input/output error\n", "", "*"},
    {NATIVE, "stop -port PTY", "", HOLD, 1, O, "tarvik: PTY: in use by another program\n", "", ""},
    {NATIVE, "walk_forward -port FILE", "", LIRC, 0, "", "",
     "6667 3333 833 834 833 833 834 833 833 834 833 3333 834 3333 833 834 833", ""},
    {NATIVE, "stop -port FILE", "", RUN, 1, O, "tarvik: FILE: not a serial device\n", "", ""},
    {NATIVE, "-script FILE -port DIR", "", RUN, 1, O, "tarvik: DIR: Is a directory\n", "", ""},
    {NATIVE, "stop -port /nonexistent/tty", "", RUN, 1, O,
     "tarvik: /nonexistent/tty: No such file or directory\n", "", ""},
    {NATIVE, "-script DIR -port VCD", "", RUN, 1, "tarvik: error opening file DIR, errno=21\n", "tarvik: DIR: Is a directory\n", "", ""},
    {WINE, "/?", "", RUN, 0, "@usage.txt", "", "", ""},
    {WINE, "-version", "", RUN, 0, "tarvik " TARVIK_VERSION "\n", "", "", ""},
    {WINE, "-ports", "", RUN, 0, "*", "", "", ""}, // what QueryDosDevice shows
    {WINE, "-script SCRIPT -check -port PTY", "20 walk_forward\n", RUN, 0, CHECKED, "", "", ""},
    {WINE, "walk_forward -v -resend 1 -port PTY", "", RUN, 0, "", "tarvik: *", W0, ""},
    {WINE, "-script SCRIPT -nowakeup -port VCD", CRLF, RUN, 0, "", "", "", "8 8 8"},
    {WINE, "stop -port FILE", "", RUN, 1, O, "tarvik: FILE: not a serial device\n", "", ""},
    {WINE, "-script SCRIPT -port PTY", times(2000, "0 stop\n"), PULL, 1, "error writing port\n",
     "tarvik: PTY: *", "", ""},
    {WINE, "-script SCRIPT -port PTY", "100000 stop\n", INTERRUPT, 130, "", "", "", ""},
    {WINE, "tests/tarvik_unit_tests.exe", "", RUN, 0, "*", "", "", ""},
    {JAVA, "stop 1 PTY", "", RUN, 0, "stop = 0x8e\nsent to PTY\n", "", W0, "8"},
    {JAVA, "stop 2 VCD", "", RUN, 0, "stop = 0x3aa\nsent to VCD\n", "", "", "12"},
    // clang-format on
};

// The wine that runs here and the build it runs: the 32-bit build, or where
// the kernel runs no 32-bit programs, the 64-bit one under wine64.
struct Wine {
    std::string program, build, prefix = temp_path("wineprefix");
    std::vector<std::string> env = {"-u", "DISPLAY", "WINEPREFIX=" + prefix, "WINEDEBUG=-all",
                                    "WINEDLLOVERRIDES=mscoree,mshtml="};
    Wine() {
        const std::string choices[][2] = {{"wine", TARVIK_WINDOWS_BUILD_DIR},
                                          {"/usr/lib/wine/wine64", TARVIK_WINDOWS64_BUILD_DIR}};
        for (const auto& c : choices)
            if (program.empty() && !c[1].empty() &&
                run_command({c[0], "cmd", "/c", "exit"}, "", env, false).status == 0)
                program = c[0], build = c[1];
    }
    ~Wine() {
        run_command({"wineserver", "-k"}, "", env, false);
        run_command({"rm", "-rf", prefix}, "", {}, false);
    }
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// What a runner's user sees, but for what depends on the machine: no CRs,
// no priority warnings (the user's rights), no frames reported disturbed (a
// busy machine's pauses), and on standard error only the program's lines.
std::string cleaned(const std::string& text, bool only_ours) {
    std::istringstream in(replaced(text, "\r", ""));
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Warning: ", 0) != 0 && line.find(" disturbed") == std::string::npos &&
            (!only_ours || line.rfind("tarvik: ", 0) == 0))
            kept += line + "\n";
    return kept;
}

void run_row(const Row& row, const Wine* wine) {
    Pty pty = open_pty();
    const bool on_wine = row.runner == WINE;
    const std::string z = on_wine ? "Z:" : "", port = on_wine ? "COM9" : pty.name;
    const std::string file = temp_path("notes.txt"), dir = temp_path("dir"),
                      vcd = temp_path("rec.vcd"), script = temp_path("script.txt"),
                      link = on_wine ? wine->prefix + "/dosdevices/com9" : "";
    write_file(file, "my notes\n");
    write_file(script, row.script);
    mkdir(dir.c_str(), 0700);
    std::remove(vcd.c_str());
    if (on_wine && symlink(pty.name.c_str(), link.c_str()) != 0)
        ADD_FAILURE() << "no link " << link;
    auto fill = [&](const std::string& text) {
        std::string s = replaced(replaced(text, "PTY", port), "VCD", z + vcd);
        s = replaced(replaced(s, "FILE", z + file), "DIR", z + dir);
        return replaced(s, "SCRIPT", z + script);
    };
    std::vector<std::string> argv = {TARVIK_BINARY}, env;
    if (on_wine)
        argv = {wine->program, wine->build + "/tarvik.exe"};
#ifdef TARVIK_JAVA_BINARY
    argv = {
        TARVIK_JAVA_BINARY,  "-Xshare:off", "-Djava.library.path=" TARVIK_JAVA_LIBRARY_DIR, "-cp",
        TARVIK_JAVA_CLASSES, "TarvikDLL"};
#endif
    std::istringstream words(fill(row.args));
    for (std::string word; words >> word;)
        argv.push_back(word);
    if (row.args.find(".exe") != std::string::npos)
        argv = {wine->program, wine->build + "/" + row.args};
    if (on_wine)
        env = wine->env;
    if (row.act == LIRC)
        env = {"LD_PRELOAD=" TARVIK_LIRC_STANDIN, "TARVIK_FAKE_LIRC=" + file};
    int other = row.act == HOLD ? open(pty.name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (row.act == HOLD && flock(other, LOCK_EX | LOCK_NB) != 0)
        ADD_FAILURE() << "no lock";
    // Ctrl-C, or the line hanging up, once the wake-up byte is out and
    // likely some frames (nothing depends on how many).
    std::function<void(int)> act = [&](int pid) {
        pollfd p = {pty.master, POLLIN, 0};
        if (poll(&p, 1, 10000 * slowdown()) != 1 || read_master(pty) != W0)
            return;
        usleep(300000);
        if (row.act == INTERRUPT)
            kill(pid, SIGINT);
        else
            close_pty(pty);
    };
    RunResult r =
        run_command(argv, row.act == STDIN ? row.script : "", env, !on_wine && row.act != LIRC,
                    row.act == INTERRUPT || row.act == PULL ? act : nullptr);
    if (other >= 0)
        close(other);
    EXPECT_EQ(r.status, row.status);
    if (row.out != "*") {
        EXPECT_EQ(cleaned(r.out, false),
                  row.out[0] == '@' ? read_file(TARVIK_TESTS_DIR "/expected/" + row.out.substr(1))
                                    : fill(row.out));
    }
    std::string err = cleaned(r.err, true), want_err = fill(row.err);
    if (!want_err.empty() && want_err.back() == '*')
        err = err.substr(0, want_err.size() - 1) + "*";
    EXPECT_EQ(err, want_err);
    // A LIRC transmitter holds the pulse lengths; refused ports are untouched.
    std::string lengths, bytes = read_file(file);
    for (std::size_t at = 0; row.act == LIRC && at + 4 <= bytes.size(); at += 4) {
        std::uint32_t value;
        std::memcpy(&value, bytes.data() + at, 4);
        lengths += (lengths.empty() ? "" : " ") + std::to_string(value);
    }
    EXPECT_EQ(row.act == LIRC ? lengths : bytes, row.act == LIRC ? row.bytes : "my notes\n");
    if (pty.master >= 0 && row.act != INTERRUPT && row.act != LIRC) {
        EXPECT_EQ(read_master(pty), row.bytes);
    }
    std::string changes =
        row.args.find("VCD") != std::string::npos ? vcd_changes(read_file(vcd)) : r.changes;
    std::vector<int> widths;
    std::istringstream frames(row.frames);
    for (int bits; frames >> bits;)
        widths.push_back(bits);
    // Interrupted, the frame being sent finishes: whole frames, the line off.
    if (row.act == INTERRUPT)
        widths.assign(changes.size() / 18, 8);
    if (row.frames != "*" || row.act == INTERRUPT) {
        EXPECT_EQ(changes, on_wine && row.act == INTERRUPT ? "" : frames_of_widths(widths));
    }
    // Viewers read recordings whole: sigrok keeps every change, gtkwave's
    // converter takes the file.
    if (!changes.empty() && row.args.find("VCD") != std::string::npos) {
        RunResult sigrok =
            run_command({"sigrok-cli", "-I", "vcd", "-i", vcd, "-O", "vcd"}, "", {}, false);
        std::string seen, text = sigrok.out.substr(sigrok.out.find("#0 0!") + 5);
        for (std::size_t at = 0; (at = text.find("!", at)) != std::string::npos; ++at)
            seen += text[at - 1];
        EXPECT_EQ(seen, changes) << sigrok.err;
        EXPECT_EQ(run_command({"vcd2fst", vcd, vcd + ".fst"}, "", {}, false).status, 0);
        std::remove((vcd + ".fst").c_str());
    }
    if (pty.master >= 0)
        close_pty(pty);
    unlink(link.c_str());
    for (const std::string& path : {file, script, vcd})
        std::remove(path.c_str());
    rmdir(dir.c_str());
}

} // namespace

// The Java program runs the Java rows under a name of its own.
#ifdef TARVIK_JAVA_BINARY
TEST(JavaRuns, EachRowOnItsRunner) {
    const Runner here[] = {JAVA};
#else
TEST(RealRuns, EachRowOnItsRunner) {
    const Runner here[] = {NATIVE, WINE};
#endif
    for (Runner runner : here) {
        // Not under valgrind, which would trace wine itself.
        std::unique_ptr<Wine> wine(runner == WINE && slowdown() == 1 ? new Wine : nullptr);
        if (runner == WINE && (!wine || wine->program.empty())) {
            std::printf("wine is not tried here\n");
            continue;
        }
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << "runner " << row.runner << ": " << row.args);
            if (row.runner == runner)
                run_row(row, wine.get());
        }
    }
}
