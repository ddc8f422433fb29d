#include "cli.h"

#include "../platform/platform.h"
#include "../player/command.h"
#include "../player/hint.h"
#include "../player/script.h"

#include <cstdio>
#include <cstring>

namespace {

void print_usage() {
    static const char* const lines[] = {
        ("usage: tarvik command|code|-script filename [-port portname] [-nowakeup] [-v2|-pet] "
         "[-mmtimer]\n\n"),
        "        codes are specified in hexadecimal as 0xCC\n",
        "        specify -v2 for Tarvik V2 or Dravix, and -pet for Fuzlo,\n",
        "         default is MekTarvik v1.\n",
        "        -mmtimer will use windows multimedia timers instead of busy waiting\n",
        "        script should have 1 cmd/line preceeded by time in milliseconds\n",
        "         and space; empty lines and those starting with # are ingored\n",
        "        to view the list of commands for MekTarvik, run tarvik -commands\n",
        "        to view the list of commands for MekTarvik V2, run tarvik -commandsv2\n",
        "        to view the list of commands for Fuzlo, run tarvik -commandspet\n",
    };
    for (const char* line : lines)
        std::printf("%s", line);
}

void list_commands(RobotModel model) {
    if (model == MODEL_V1) {
        std::printf("\nThe following commands are recognized for MekTarvik:\n");
        for (int i = 0; i < V1_COMMAND_COUNT; ++i)
            if (v1_command_names[i][0] != '-')
                std::printf("           %s (%x)\n", v1_command_names[i],
                            static_cast<unsigned>(V1_FIRST_CODE + i));
    } else if (model == MODEL_V2) {
        std::printf("\nThe following commands are recognized for MekTarvik V2:\n");
        for (const CommandRow& row : v2_commands)
            std::printf(row.name[0] == '_' ? "           DX%s (%x)\n" : "           %s (%x)\n",
                        row.name, static_cast<unsigned>(row.code));
        std::printf("\nIn the commands starting with DX, replace X with direction: \n");
        std::printf("  0 - Up/Forward\n  1 - Down/Backward\n  2 - Left\n  3 - Right\n"
                    "  4 - Up and Left\n  5 - Up and Right\n  6 - Down and Left\n");
        std::printf("  7 - Down and Right\n");
    } else {
        std::printf("\nThe following commands are recognized for Fuzlo:\n");
        for (const CommandRow& row : pet_commands)
            std::printf("           %s (%x)\n", row.name, static_cast<unsigned>(row.code));
    }
}

void list_ports() {
    static char ports[16384];
    if (plat_list_ports("", ports, sizeof ports) == 0)
        std::fprintf(stderr, "tarvik: no serial ports found\n");
    std::printf("%s", ports);
}

bool equals(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

// The help and list words count only as the sole argument.
bool sole_argument_action(const char* arg, int* status) {
    if (equals(arg, "-?") || equals(arg, "-h") || equals(arg, "--help") || equals(arg, "/?"))
        print_usage();
    else if (equals(arg, "-commands"))
        list_commands(MODEL_V1);
    else if (equals(arg, "-commandsv2"))
        list_commands(MODEL_V2);
    else if (equals(arg, "-commandspet"))
        list_commands(MODEL_PET);
    else if (equals(arg, "--version") || equals(arg, "-version"))
        std::printf("tarvik %s\n", TARVIK_VERSION);
    else if (equals(arg, "-ports"))
        list_ports();
    else
        return false;
    *status = 0;
    return true;
}

// A failed capability query leaves the mode off without a word: there is no
// resolution to report.
bool timer_can_do_1ms() {
    unsigned min_period = 0;
    if (!plat_timer_min_period_ms(&min_period))
        return false;
    if (min_period > 1) {
        std::printf("warning: the multimedia timer resolution is %d, which renders them useless\n",
                    static_cast<int>(min_period));
        return false;
    }
    return true;
}

// A word of our own on standard error; standard output keeps the fixed texts.
void say(const char* what, const char* word = "") {
    std::fflush(stdout);
    std::fprintf(stderr, what, word);
}

// A whole number from 0 to 100, digits only.
bool read_resend(const char* text, int* times) {
    int n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || p - text >= 3)
            return false;
        n = n * 10 + (*p - '0');
    }
    if (text[0] == '\0' || n > 100)
        return false;
    *times = n;
    return true;
}

// The arguments after the command (argv[0] here); false when the run cannot
// go on. The word after -script and -serve is theirs: compared like the
// others, as it always was, but no warning when it is no option.
bool apply_options(int argc, char** argv, RunSettings* s) {
    bool takes_word = equals(argv[0], "-script") || equals(argv[0], "-serve");
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (equals(arg, "-port")) {
            if (i + 1 < argc)
                s->port_name = argv[++i];
            else
                say("tarvik: -port has no name after it; using %s\n", s->port_name);
        } else if (equals(arg, "-v2")) {
            s->model = MODEL_V2;
        } else if (equals(arg, "-pet")) {
            s->model = MODEL_PET;
        } else if (equals(arg, "-nowakeup")) {
            s->no_wakeup = true;
        } else if (equals(arg, "-mmtimer")) {
            s->mm_timer = timer_can_do_1ms();
        } else if (equals(arg, "-check")) {
            s->check = true;
        } else if (equals(arg, "-v")) {
            s->verbose = true;
        } else if (equals(arg, "-resend")) {
            if (i + 1 >= argc || !read_resend(argv[++i], &s->resend)) {
                say("tarvik: -resend needs a whole number from 0 to 100\n");
                return false;
            }
        } else if (i > 1 || !takes_word) {
            say("tarvik: ignoring \"%s\", which is no option\n", arg);
        }
    }
    return true;
}

// What may have been meant, after the unrecognised-command message.
void hint_unknown(const char* name, RobotModel model) {
    char hint[200];
    if (command_hint(name, model, true, hint, sizeof hint))
        say("tarvik: %s\n", hint);
}

} // namespace

int tarvik_main(int argc, char** argv, ServeRemote serve) {
    int status = 0;
    if (argc < 2) {
        print_usage();
        return 0;
    }
    if (argc == 2 && sole_argument_action(argv[1], &status))
        return status;

    RunSettings s;
    s.port_name = "COM1";
    s.model = MODEL_V1;
    s.no_wakeup = false;
    s.mm_timer = false;
    s.code = 0;
    s.script_path = nullptr;
    s.check = false;
    s.verbose = false;
    s.resend = 0;
    s.listen = nullptr;
    // Options first (argv[1] is the command and is never one of them).
    if (!apply_options(argc - 1, argv + 1, &s))
        return 1;

    const char* command = argv[1];
    s.name = command;
    if (serve && equals(command, "-serve")) {
        if (argc < 3) {
            std::printf("tarvik: missing [ADDRESS:]PORT after -serve\n");
            return 1;
        }
        s.listen = argv[2];
        return serve(s);
    }
    if (equals(command, "-script")) {
        if (argc < 3) {
            std::printf("tarvik: missing script file name after -script\n");
            return 1;
        }
        s.script_path = argv[2];
    } else if (!read_command(command, &s.model, &s.code)) {
        hint_unknown(command, s.model);
        return 1;
    }
    if (s.check)
        return check_frames(s.script_path, command, s.code, s.model, !s.no_wakeup);
    return run_program(s);
}
