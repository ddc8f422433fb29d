// The Windows deliverables under wine, in a wine prefix of this test's own.
// Every run that could send names its port: under wine COM1 is the
// machine's console.
#include "e2e.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

const std::string WIN = TARVIK_WINDOWS_BUILD_DIR;
const std::string WIN64 = TARVIK_WINDOWS64_BUILD_DIR;
// The wine that runs here and the build it runs: the 32-bit build under
// wine, or where the kernel runs no 32-bit programs, the 64-bit build under
// wine64.
std::string wine_program;
std::string wine_build;

std::string prefix() {
    static std::string path = temp_path("wineprefix");
    return path;
}

std::string strip_cr(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != '\r')
            out += c;
    return out;
}

std::vector<std::string> wine_argv(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"timeout", "120", wine_program, wine_build + "/" + exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

RunResult wine(const std::string& exe, const std::vector<std::string>& args) {
    RunResult r = run_command(wine_argv(exe, args), "", false);
    r.out = strip_cr(r.out);
    return r;
}

// wineserver's own notes aside, what the program wrote to standard error.
std::string program_errors(const std::string& err) {
    std::string kept;
    std::size_t at = 0;
    while ((at = err.find("tarvik: ", at)) != std::string::npos) {
        std::size_t end = err.find('\n', at);
        kept += strip_cr(err.substr(at, end - at)) + "\n";
        at = end;
    }
    return kept;
}

std::string win_path(const std::string& unix_path) {
    return "Z:" + unix_path;
}

class Wine : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("WINEPREFIX", prefix().c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        unsetenv("DISPLAY");
        const std::string choices[][2] = {{"wine", WIN}, {"/usr/lib/wine/wine64", WIN64}};
        for (const auto& choice : choices) {
            if (choice[1].empty())
                continue;
            RunResult r =
                run_command({"timeout", "300", choice[0], "cmd", "/c", "exit"}, "", false);
            if (r.status == 0) {
                wine_program = choice[0];
                wine_build = choice[1];
                available = true;
                return;
            }
        }
    }
    static void TearDownTestSuite() {
        run_command({"timeout", "60", "wineserver", "-k"}, "", false);
        run_command({"rm", "-rf", prefix()}, "", false);
    }
    void SetUp() override {
        if (!available)
            GTEST_SKIP() << "wine cannot start here; the Windows build is not tried";
    }
    static bool available;
};

bool Wine::available = false;

} // namespace

TEST_F(Wine, TextsMessagesAndStatusesMatchTheLinuxBuild) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {{}, 0, expected_text("usage.txt")},
        {{"/?"}, 0, expected_text("usage.txt")},
        {{"-commands"}, 0, expected_text("commands.txt")},
        {{"-commandsv2"}, 0, expected_text("commandsv2.txt")},
        {{"-commandspet"}, 0, expected_text("commandspet.txt")},
        {{"-h", "-v2"}, 1, "tarvik: unrecognized command: -h\n"},
        {{"0X86", "-port", "C:\\nonexistent\\port"}, 1, "tarvik: unrecognized command: 0X86\n"},
        {{"-script"}, 1, "tarvik: missing script file name after -script\n"},
        {{"stop", "-port", "C:\\nonexistent\\port"}, 1, "error opening port\n"},
        {{"-script", "C:\\nonexistent\\script", "-port", win_path(temp_path("x.vcd"))},
         1,
         "tarvik: error opening file C:\\nonexistent\\script, errno=2\n"},
    };
    for (const Case& c : cases) {
        RunResult r = wine("tarvik.exe", c.args);
        EXPECT_EQ(r.status, c.status) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(r.out, c.out) << (c.args.empty() ? "" : c.args[0]);
    }
    std::remove(temp_path("x.vcd").c_str());
}

TEST_F(Wine, FrameOnAComPortMappedToAPseudoTerminal) {
    Pty pty = open_pty();
    std::string link = prefix() + "/dosdevices/com9";
    unlink(link.c_str());
    ASSERT_EQ(symlink(pty.name.c_str(), link.c_str()), 0);
    RunResult r = wine("tarvik.exe", {"walk_forward", "-port", "COM9"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_master(pty), std::string(1, '\0'));
    r = wine("tarvik.exe", {"stop", "-nowakeup", "-port", "COM9"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_master(pty), "");
    unlink(link.c_str());
    close_pty(pty);
}

TEST_F(Wine, RecordingsAndScripts) {
    std::string vcd = temp_path("wine.vcd");
    RunResult r = wine("tarvik.exe", {"stop", "-v2", "-port", win_path(vcd)});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(frames_of_widths(parse_vcd(read_file(vcd)), {12}));

    // The same script bytes as on Linux: CR LF ends, a Ctrl-Z end.
    std::string script = temp_path("wine-script.txt");
    write_file(script, "10 walk_forward\r\n5 0x8e\r\n\r\n# comment\r\n3\r\n\x1a"
                       "1 burp\r\n");
    r = wine("tarvik.exe", {"-script", win_path(script), "-nowakeup", "-port", win_path(vcd)});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(frames_of_widths(parse_vcd(read_file(vcd)), {8, 8, 8}));
    std::remove(script.c_str());
    std::remove(vcd.c_str());
}

// By the decorated names where the build is 32-bit.
TEST_F(Wine, DllEntryPointsWithoutAJvm) {
    std::string vcd = temp_path("dll.vcd");
    std::string notes = temp_path("dll-notes.txt");
    write_file(notes, "keep\n");
    RunResult r = wine("tarvik_jni_host.exe", {"tarvikjava.dll", win_path(vcd), win_path(notes)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "24 passed, 0 failed\n");
    EXPECT_EQ(read_file(notes), "keep\n");
    std::remove(notes.c_str());
    EXPECT_TRUE(frames_of_widths(parse_vcd(read_file(vcd)), {8}));
    std::remove(vcd.c_str());
}

TEST_F(Wine, UnitTestsOnTheFakePlatform) {
    RunResult r = wine("tests/tarvik_unit_tests.exe", {});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("[  PASSED  ]"), std::string::npos);
}

TEST_F(Wine, RefusedPortsAVanishedPortAndCtrlC) {
    std::string notes = temp_path("wine-notes.txt");
    write_file(notes, "notes\n");
    RunResult r = wine("tarvik.exe", {"stop", "-port", win_path(notes)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "error opening port\n");
    EXPECT_EQ(program_errors(r.err), "tarvik: " + win_path(notes) + ": not a serial device\n");
    EXPECT_EQ(read_file(notes), "notes\n");
    std::remove(notes.c_str());

    std::string script = temp_path("wine-long.txt");
    std::string link = prefix() + "/dosdevices/com9";
    // The device goes away mid-script: the line changes fail with an error a
    // present port could give too, and the port no longer answers.
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "0 stop\n";
    write_file(script, text);
    Pty pty = open_pty();
    unlink(link.c_str());
    ASSERT_EQ(symlink(pty.name.c_str(), link.c_str()), 0);
    Running running = start_command(
        wine_argv("tarvik.exe", {"-script", win_path(script), "-port", "COM9"}), "", false);
    ASSERT_TRUE(wait_for_wakeup(pty));
    close_pty(pty);
    r = finish(running);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(strip_cr(r.out), "error writing port\n");
    EXPECT_EQ(program_errors(r.err).rfind("tarvik: COM9: ", 0), 0u) << r.err;

    // Ctrl-C in a long delay ends the run at once, with the port closed.
    pty = open_pty();
    unlink(link.c_str());
    ASSERT_EQ(symlink(pty.name.c_str(), link.c_str()), 0);
    write_file(script, "100000 stop\n");
    running = start_command(wine_argv("tarvik.exe", {"-script", win_path(script), "-port", "COM9"}),
                            "", false);
    ASSERT_TRUE(wait_for_wakeup(pty));
    kill(running.pid, SIGINT);
    r = finish(running);
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.out, "");
    unlink(link.c_str());
    close_pty(pty);
    std::remove(script.c_str());
}

// The 32-bit build computes the timing values in SSE2 doubles: no x87
// multiplication, which would round them twice.
TEST(WindowsBuild, TimingValuesInDoubleArithmetic) {
    RunResult r = run_command(
        {"i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", WIN + "/libtarvik_core.a"}, "",
        false);
    ASSERT_EQ(r.status, 0);
    std::size_t start = r.out.find("<__Z11init_timingx>:");
    ASSERT_NE(start, std::string::npos);
    std::string body = r.out.substr(start, r.out.find("ret", start) - start);
    EXPECT_EQ(body.find("fmul"), std::string::npos) << body;
    EXPECT_NE(body.find("mul"), std::string::npos);
}

TEST(WindowsBuild, ExportsTheDecoratedNames) {
    RunResult r =
        run_command({"i686-w64-mingw32-objdump", "-p", WIN + "/tarvikjava.dll"}, "", false);
    ASSERT_EQ(r.status, 0);
    for (const char* name : {"_Java_TarvikDLL_TarvikOpen@12", "_Java_TarvikDLL_TarvikSend@28",
                             "_Java_TarvikDLL_TarvikDecode@16", "_Java_TarvikDLL_TarvikClose@16",
                             "_Java_TarvikDLL_TarvikUseMMTimer@12"})
        EXPECT_NE(r.out.find(std::string("] ") + name + "\n"), std::string::npos) << name;
    // Self-contained: nothing but system DLLs imported.
    for (const char* exe : {"tarvik.exe", "tarvikjava.dll"}) {
        RunResult deps =
            run_command({"i686-w64-mingw32-objdump", "-p", WIN + "/" + exe}, "", false);
        std::size_t at = 0;
        while ((at = deps.out.find("DLL Name: ", at)) != std::string::npos) {
            std::string dll = deps.out.substr(at + 10, deps.out.find('\n', at) - at - 10);
            EXPECT_TRUE(dll == "KERNEL32.dll" || dll == "msvcrt.dll" || dll == "WINMM.DLL")
                << exe << " imports " << dll;
            ++at;
        }
    }
}
