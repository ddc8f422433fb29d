// The real binary refusing what is not its port: ordinary files and FIFOs
// are left as they were, a port another program holds stays its own.
#include "e2e.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TEST(ProgramPorts, WhatIsNoSerialDeviceIsLeftUntouched) {
    std::string notes = temp_path("notes.txt");
    std::string fifo = temp_path("fifo");
    std::string dir = temp_path("dir");
    write_file(notes, "my notes\n");
    mkfifo(fifo.c_str(), 0600);
    mkdir(dir.c_str(), 0700);
    struct stat before;
    stat(notes.c_str(), &before);
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"stop", "-port", notes}, "tarvik: " + notes + ": not a serial device\n"},
        {{"-script", notes, "-port", notes}, "tarvik: " + notes + ": not a serial device\n"},
        {{"stop", "-port", fifo}, "tarvik: " + fifo + ": not a serial device\n"},
        {{"stop", "-port", dir}, "tarvik: " + dir + ": Is a directory\n"},
        {{"stop", "-port", "/nonexistent/tty"},
         "tarvik: /nonexistent/tty: No such file or directory\n"},
    };
    for (const Case& c : cases) {
        RunResult r = run_tarvik(c.args);
        EXPECT_EQ(r.status, 1) << c.args[2];
        EXPECT_EQ(r.out, "error opening port\n");
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(r.ioctls.empty());
    }
    struct stat after;
    stat(notes.c_str(), &after);
    EXPECT_EQ(read_file(notes), "my notes\n");
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    std::remove(notes.c_str());
    std::remove(fifo.c_str());
    rmdir(dir.c_str());
}

TEST(ProgramPorts, APortInUseStaysItsHoldersOwn) {
    Pty pty = open_pty();
    const std::string in_use = "tarvik: " + pty.name + ": in use by another program\n";

    // Another program's advisory lock.
    int other = open(pty.name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    RunResult r = run_tarvik({"stop", "-port", pty.name});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "error opening port\n");
    EXPECT_EQ(r.err, in_use);
    EXPECT_TRUE(r.ioctls.empty());
    EXPECT_EQ(read_master(pty), "");
    close(other);

    // Another tarvik playing a script: a second run is refused and leaves the
    // first one's exclusive use in place.
    std::string script = temp_path("held.txt");
    write_file(script, "0 stop\n100000 stop\n");
    Running holder =
        start_command({TARVIK_BINARY, "-script", script, "-port", pty.name}, "", false);
    ASSERT_TRUE(wait_for_wakeup(pty));
    r = run_tarvik({"walk_forward", "-port", pty.name});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, in_use);
    EXPECT_TRUE(r.ioctls.empty());
    int exclusive = 0;
    EXPECT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    kill(holder.pid, SIGINT);
    EXPECT_EQ(finish(holder).status, 130);
    EXPECT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0); // given back at its close
    std::remove(script.c_str());
    close_pty(pty);
}
