// The Java library in a real JVM, through the example TarvikDLL class.
#include "e2e.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

RunResult run_java(const char* classes, const std::string& main_class,
                   const std::vector<std::string>& args) {
    std::vector<std::string> all = {
        TARVIK_JAVA, "-Xshare:off", "-Djava.library.path=" TARVIK_JAVA_LIBRARY_DIR,
        "-cp",       classes,       main_class};
    all.insert(all.end(), args.begin(), args.end());
    return run_command(all);
}

} // namespace

TEST(JavaLibrary, SessionOnAPseudoTerminalAndARecording) {
    Pty pty = open_pty();
    std::string vcd = temp_path("java.vcd");
    RunResult r = run_java(TARVIK_JAVA_TEST_CLASSES, "TarvikJavaTest", {pty.name, vcd});
    // Only the harness's closing line: the library itself prints nothing.
    EXPECT_EQ(r.out, "36 passed, 0 failed\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_master(pty), std::string(2, '\0')); // two wake-ups, then none
    EXPECT_TRUE(frames_of_widths(r.ioctls, {8, 8, 12, 12}));
    std::vector<std::int64_t> wakeups;
    EXPECT_TRUE(frames_of_widths(parse_vcd(read_file(vcd), &wakeups), {8}));
    EXPECT_EQ(wakeups.size(), 1u);
    std::remove(vcd.c_str());
    close_pty(pty);
}

TEST(JavaLibrary, ResultsDeclaredVoidAndTheExampleClass) {
    Pty pty = open_pty();
    RunResult r = run_java(TARVIK_JAVA_VOID_CLASSES, "TarvikDLL", {pty.name});
    EXPECT_EQ(r.out, "1 passed, 0 failed\n");
    EXPECT_TRUE(frames_of_widths(r.ioctls, {12}));
    close_pty(pty);

    r = run_java(TARVIK_JAVA_EXAMPLE_CLASSES, "TarvikDLL", {"stop"});
    EXPECT_EQ(r.out, "stop = 0x8e\n");
    EXPECT_EQ(r.status, 0);
}

// The entry points without a JVM: decoding, a recording, an ordinary file
// refused, and a frame that leaves the host's locked memory as it was.
TEST(JavaLibrary, EntryPointsThroughAMinimalEnvironment) {
    Pty pty = open_pty();
    std::string vcd = temp_path("host.vcd");
    std::string notes = temp_path("host-notes.txt");
    write_file(notes, "keep\n");
    RunResult r =
        run_command({TARVIK_JNI_HOST, TARVIK_JAVA_LIBRARY, vcd, notes, pty.name}, "", false);
    EXPECT_EQ(r.out, "28 passed, 0 failed\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(notes), "keep\n");
    EXPECT_TRUE(frames_of_widths(parse_vcd(read_file(vcd)), {8}));
    std::remove(vcd.c_str());
    std::remove(notes.c_str());
    close_pty(pty);
}
