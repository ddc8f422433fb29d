// The Windows deliverables under wine, in a wine prefix of this test's own.
// Every run that could send names its port: under wine COM1 is the
// machine's console.
#include "e2e.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

const std::string WIN = TARVIK_WINDOWS_BUILD_DIR;

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

RunResult wine(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"wine", WIN + "/" + exe};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run_command(argv, "", false);
    r.out = strip_cr(r.out);
    return r;
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
        RunResult r = run_command({"wine", "cmd", "/c", "exit"}, "", false);
        available = r.status == 0;
    }
    static void TearDownTestSuite() {
        run_command({"wineserver", "-k"}, "", false);
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

TEST_F(Wine, RecordingsAndScriptsDecodeBack) {
    std::string vcd = temp_path("wine.vcd");
    auto recorded = [&](std::size_t count) {
        return [&vcd, count](const RunResult&) {
            return frames_sound(parse_vcd(read_file(vcd)), count);
        };
    };
    RunResult r = run_until_sound(
        [&] {
            return wine("tarvik.exe", {"stop", "-v2", "-port", win_path(vcd)});
        },
        recorded(1));
    EXPECT_EQ(r.status, 0);
    auto frames = decode_frames(parse_vcd(read_file(vcd)), 1e9 / 1200);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, 0x3AAu);
    EXPECT_EQ(frames[0].bits, 12);

    // The same script bytes as on Linux: CR LF ends, a Ctrl-Z end.
    std::string script = temp_path("wine-script.txt");
    write_file(script, "10 walk_forward\r\n5 0x8e\r\n\r\n# comment\r\n3\r\n\x1a"
                       "1 burp\r\n");
    r = run_until_sound(
        [&] {
            return wine("tarvik.exe",
                        {"-script", win_path(script), "-nowakeup", "-port", win_path(vcd)});
        },
        recorded(3));
    EXPECT_EQ(r.status, 0);
    frames = decode_frames(parse_vcd(read_file(vcd)), 1e9 / 1200);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].code, 0x86u);
    EXPECT_EQ(frames[1].code, 0x8Eu);
    EXPECT_EQ(frames[2].code, 0x8Eu);
    std::remove(script.c_str());
    std::remove(vcd.c_str());
}

TEST_F(Wine, DllEntryPointsByTheirDecoratedNames) {
    std::string vcd = temp_path("dll.vcd");
    RunResult r = wine("tarvik_dll_test.exe", {win_path(vcd)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "22 passed, 0 failed\n");
    auto frames = decode_frames(parse_vcd(read_file(vcd)), 1e9 / 1200);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, 0x86u);
    std::remove(vcd.c_str());
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
