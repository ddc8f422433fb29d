// The real binary interrupted by signals, and losing its port, mid-script.
#include "e2e.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string long_script() {
    std::string path = temp_path("long-script.txt");
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "0 stop\n";
    write_file(path, text);
    return path;
}

// Waits for the process to end; the milliseconds it took.
long wait_gone(const Running& running, Clock::time_point since) {
    while (waitpid(running.pid, nullptr, WNOHANG | WNOWAIT) == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

} // namespace

TEST(ProgramFailures, SignalsEndAScriptPromptlyWithTheLineOff) {
    std::string script = long_script();
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        Pty pty = open_pty();
        Running running = start_command({TARVIK_BINARY, "-script", script, "-port", pty.name});
        ASSERT_TRUE(wait_for_wakeup(pty));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // some frames out
        Clock::time_point sent = Clock::now();
        kill(running.pid, sig);
        long took = wait_gone(running, sent);
        RunResult r = finish(running);
        EXPECT_EQ(r.status, 128 + sig) << sig;
        EXPECT_EQ(without_warnings(r.out), "");
        EXPECT_LT(took, 2000 * slowdown()) << sig; // the frame being sent finishes first
        ASSERT_FALSE(r.ioctls.empty());
        EXPECT_FALSE(r.ioctls.back().second) << "break left on after signal " << sig;
        EXPECT_GE(r.ioctls.size(), 3u * 18);
        close_pty(pty);
    }
    std::remove(script.c_str());
}

TEST(ProgramFailures, PortThatDisappearsEndsTheScript) {
    std::string script = long_script();
    Pty pty = open_pty();
    Running running = start_command({TARVIK_BINARY, "-script", script, "-port", pty.name});
    ASSERT_TRUE(wait_for_wakeup(pty));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Closing the master hangs the line up: the slave answers EIO from now on.
    Clock::time_point pulled = Clock::now();
    close_pty(pty);
    long took = wait_gone(running, pulled);
    RunResult r = finish(running);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(without_warnings(r.out), "error writing port\n");
    EXPECT_LT(took, 2000 * slowdown());
    std::remove(script.c_str());
}
