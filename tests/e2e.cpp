#include "e2e.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

Pty open_pty() {
    Pty pty;
    char name[128];
    if (openpty(&pty.master, &pty.slave, name, nullptr, nullptr) != 0)
        std::abort();
    pty.name = name;
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    // Not inherited by the programs under test: the line must hang up when
    // the test closes its master.
    fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    return pty;
}

void close_pty(Pty& pty) {
    close(pty.master);
    close(pty.slave);
    pty.master = pty.slave = -1;
}

std::string read_master(const Pty& pty) {
    std::string out;
    char buf[256];
    for (;;) {
        ssize_t n = read(pty.master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::size_t frame_start(const std::vector<int>& widths, std::size_t n) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < n && i < widths.size(); ++i)
        at += 2 * static_cast<std::size_t>(widths[i]) + 2;
    return at;
}

bool frames_of_widths(const LineChanges& changes, const std::vector<int>& widths) {
    if (changes.size() != frame_start(widths, widths.size()))
        return false;
    for (std::size_t i = 0; i < changes.size(); ++i)
        if (changes[i].second != (i % 2 == 0))
            return false;
    return true;
}

std::string expected_text(const std::string& name) {
    return read_file(std::string(TARVIK_TESTS_DIR) + "/expected/" + name);
}

int slowdown() {
    const char* factor = std::getenv("TARVIK_TEST_SLOWDOWN");
    return factor && std::atoi(factor) > 1 ? std::atoi(factor) : 1;
}

bool wait_for_wakeup(const Pty& pty) {
    pollfd p = {pty.master, POLLIN, 0};
    return poll(&p, 1, 10000 * slowdown()) == 1 && read_master(pty) == std::string(1, '\0');
}

std::string without_warnings(const std::string& out) {
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.rfind("Warning: ", 0) != 0)
            kept += line + "\n";
    return kept;
}

namespace {

LineChanges parse_ioctl_log(const std::string& text) {
    LineChanges changes;
    std::istringstream in(text);
    char kind;
    long long before, after;
    while (in >> kind >> before >> after)
        changes.push_back({before, kind == 'S'});
    return changes;
}

} // namespace

RunResult run_tarvik(const std::vector<std::string>& args, const std::string& stdin_text) {
    std::vector<std::string> argv = {TARVIK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, stdin_text);
}

Running start_command(const std::vector<std::string>& args, const std::string& stdin_text,
                      bool record, bool keep_stdin) {
    Running running;
    running.log = temp_path("ioctl-" + std::to_string(std::rand()) + ".log");
    std::remove(running.log.c_str());
    running.err = running.log + ".err";
    int err_fd = open(running.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (err_fd < 0)
        std::abort();
    int out_pipe[2], in_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(in_pipe, O_CLOEXEC) != 0)
        std::abort();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(in_pipe[0], 0);
        dup2(err_fd, 2);
        close(out_pipe[0]);
        close(in_pipe[1]);
        if (record) {
            setenv("LD_PRELOAD", TARVIK_IOCTL_RECORDER, 1);
            setenv("TARVIK_IOCTL_LOG", running.log.c_str(), 1);
            setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(in_pipe[0]);
    close(err_fd);
    if (!stdin_text.empty() && write(in_pipe[1], stdin_text.data(), stdin_text.size()) < 0)
        std::abort();
    running.in_fd = -1;
    if (keep_stdin)
        running.in_fd = in_pipe[1];
    else
        close(in_pipe[1]);
    running.pid = pid;
    running.out_fd = out_pipe[0];
    return running;
}

RunResult finish(Running& running) {
    if (running.in_fd >= 0)
        close(running.in_fd);
    RunResult r;
    char buf[4096];
    // No run may hang the suite: past its time the program is killed, and
    // the test sees a status it never expects.
    const int limit_ms = RUN_LIMIT_SECONDS * 1000 * slowdown();
    int waited_ms = 0;
    for (;;) {
        pollfd p = {running.out_fd, POLLIN, 0};
        int ready = poll(&p, 1, 100);
        if (ready == 0 && (waited_ms += 100) >= limit_ms) {
            kill(running.pid, SIGKILL);
            r.out += "(killed: still running after " + std::to_string(limit_ms) + " ms)";
            break;
        }
        if (ready <= 0)
            continue;
        ssize_t n = read(running.out_fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        r.out.append(buf, static_cast<std::size_t>(n));
    }
    close(running.out_fd);
    int status = 0;
    waitpid(running.pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.ioctls = parse_ioctl_log(read_file(running.log));
    r.err = read_file(running.err);
    std::remove(running.log.c_str());
    std::remove(running.err.c_str());
    return r;
}

RunResult run_command(const std::vector<std::string>& args, const std::string& stdin_text,
                      bool record) {
    Running running = start_command(args, stdin_text, record);
    return finish(running);
}
