#include "e2e.h"

#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
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
    ssize_t n;
    while ((n = read(pty.master, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    return out;
}

int slowdown() {
    const char* factor = std::getenv("TARVIK_TEST_SLOWDOWN");
    return factor && std::atoi(factor) > 1 ? std::atoi(factor) : 1;
}

std::string frames_of_widths(const std::vector<int>& widths) {
    std::string changes;
    for (int bits : widths) {
        changes += "1";
        for (int i = 0; i < bits; ++i)
            changes += "01";
        changes += "0";
    }
    return changes;
}

std::string vcd_changes(const std::string& text) {
    std::size_t values = text.find("$dumpvars");
    std::istringstream in(values == std::string::npos ? ""
                                                      : text.substr(text.find("$end", values)));
    std::string line, changes;
    while (std::getline(in, line))
        if (line == "1!" || line == "0!")
            changes += line[0];
    return changes;
}

RunResult run_command(const std::vector<std::string>& argv, const std::string& input,
                      std::vector<std::string> env, bool record,
                      const std::function<void(int)>& during) {
    static int runs;
    const std::string files = temp_path("run" + std::to_string(++runs));
    write_file(files + ".in", input);
    std::remove((files + ".log").c_str());
    if (record) {
        env.push_back("LD_PRELOAD=" TARVIK_IOCTL_RECORDER);
        env.push_back("TARVIK_IOCTL_LOG=" + files + ".log");
    }
    env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    // timeout passes Ctrl-C on, and kills what outlives its time.
    std::vector<std::string> all = {"timeout", "-k", "10", std::to_string(120 * slowdown()), "env"};
    all.insert(all.end(), env.begin(), env.end());
    all.insert(all.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& a : all)
        args.push_back(&a[0]);
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (files + ".in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (files + ".out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (files + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    RunResult r = {-1, "", "", ""};
    if (posix_spawnp(&pid, "timeout", &actions, nullptr, args.data(), environ) == 0) {
        if (during)
            during(pid);
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    r.out = read_file(files + ".out");
    r.err = read_file(files + ".err");
    std::istringstream log(read_file(files + ".log"));
    std::string kind, before, after;
    while (log >> kind >> before >> after)
        r.changes += kind == "S" ? "1" : "0";
    for (const char* leaf : {".in", ".out", ".err", ".log"})
        std::remove((files + leaf).c_str());
    return r;
}
