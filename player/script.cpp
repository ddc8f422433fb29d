#include "script.h"

#include "../core/frame.h"
#include "../core/timing.h"
#include "crt_scan.h"
#include "send.h"

#include <cstdio>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// Reads a script as a Windows text-mode stream with a 50-byte line buffer, so
// that a script plays the same on every build: CR LF becomes LF, a byte 0x1A
// ends the input, and a line is read in pieces of at most 49 characters.
const int SCRIPT_PIECE_SIZE = 50;
const int NO_PENDING = -2;

struct ScriptReader {
    std::FILE* file;  // or null, for a script held in memory:
    const char* text; // ... its bytes not yet read
    std::size_t left;
    int pending; // a byte read ahead after a CR, or NO_PENDING
    bool ended;
};

void reader_init(ScriptReader* reader, std::FILE* file, const char* text, std::size_t length) {
    reader->file = file;
    reader->text = text;
    reader->left = length;
    reader->pending = NO_PENDING;
    reader->ended = false;
}

bool reader_failed(const ScriptReader* reader) {
    return reader->file && std::ferror(reader->file);
}

int raw_char(ScriptReader* r) {
    if (r->pending != NO_PENDING) {
        int c = r->pending;
        r->pending = NO_PENDING;
        return c;
    }
    if (r->file)
        return std::getc(r->file);
    if (r->left == 0)
        return EOF;
    --r->left;
    return static_cast<unsigned char>(*r->text++);
}

int next_char(ScriptReader* r) {
    if (r->ended)
        return EOF;
    int c = raw_char(r);
    if (c == '\r') {
        int next = raw_char(r);
        if (next == '\n')
            return '\n';
        r->pending = next;
    }
    if (c == EOF || c == 0x1A) {
        r->ended = true;
        return EOF;
    }
    return c;
}

struct ScriptState {
    std::int32_t delay;
    char token[SCRIPT_PIECE_SIZE];
    bool has_token;
    command_code code;
    int line; // of the piece being read, from 1
};

// A check goes through the script as the player does, without a port: it
// notes when each frame would go out instead of waiting and sending.
struct Check {
    std::int64_t delays_ms; // every wait so far
    std::int64_t units;     // every frame so far, in pulse units
    int frames;
    char unknown[512]; // the unrecognised names, with their lines
    bool unknown_cut;  // ... more than that holds
};

Check* checking;        // the check under way, or null when playing
ProblemSink quiet_sink; // a check that prints nothing: its problems go here
void* quiet_context;
const ScriptWatch* watching; // the remote control's play, or null

bool stop_asked() {
    return plat_interrupted() || (watching && watching->stop_asked(watching->context));
}

// Milliseconds, then pulse units of 1/1200 s, as seconds with three decimals.
void print_seconds(std::int64_t ms, std::int64_t units) {
    std::int64_t us = ms * 1000 + (units * 5000 + 3) / 6;
    std::printf("%lld.%03lld s", static_cast<long long>(us / 1000000),
                static_cast<long long>((us + 500) / 1000 % 1000));
}

// One frame of the check: when it would go out, what, and its bits.
void check_frame(int line, const char* name, command_code code, RobotModel model) {
    if (quiet_sink) {
        unsigned char quiet_units[MAX_FRAME_PULSES];
        int quiet_count = frame_units(code, model, quiet_units);
        for (int i = 0; i < quiet_count; ++i)
            checking->units += quiet_units[i];
        ++checking->frames;
        return;
    }
    if (line > 0)
        std::printf("line %d: ", line);
    print_seconds(checking->delays_ms, checking->units);
    std::printf(": ");
    describe_frame(stdout, name, code, model);
    std::putchar('\n');
    unsigned char units[MAX_FRAME_PULSES];
    int count = frame_units(code, model, units);
    for (int i = 0; i < count; ++i)
        checking->units += units[i];
    ++checking->frames;
}

void note_unknown(const char* name, int line) {
    if (quiet_sink) {
        std::string message = std::string("unrecognized command: ") + name;
        quiet_sink(quiet_context, line, message.c_str());
        checking->unknown[0] = '?';
        return;
    }
    std::size_t used = std::strlen(checking->unknown);
    int n = std::snprintf(checking->unknown + used, sizeof checking->unknown - used,
                          "%s%s (line %d)", used ? ", " : "", name, line);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof checking->unknown - used) {
        checking->unknown[used] = '\0';
        checking->unknown_cut = true;
    }
}

void wait_ms(std::int32_t delay) {
    const std::int64_t target = static_cast<std::int64_t>(delay) * timing.frequency / 1000;
    const std::int64_t start = plat_counter();
    do {
        plat_sleep_ms(1);
    } while (plat_counter() - start < target && !stop_asked());
}

// Returns whether the line's command resolved to a frame.
bool resolve_token(ScriptState* s, RobotModel model) {
    if (s->token[0] == '0' && s->token[1] == 'x') {
        scan_hex32(s->token + 2, &s->code);
        return true;
    }
    s->code = quiet_sink ? decode_command(s->token, model) : lookup_command(s->token, model);
    return s->code != 0;
}

// Plays one line, or the remainder of a long one; 0, or 1 when the port
// failed.
int play_line(ScriptState* s, char* line, bool remainder, Port* port, RobotModel model) {
    std::size_t n = std::strlen(line);
    if (n > 0 && line[n - 1] == '\n')
        line[--n] = '\0';
    if (n == 0 || line[0] == '#')
        return 0;
    char token[SCRIPT_PIECE_SIZE];
    int items = scan_delay_and_token(line, &s->delay, token, sizeof token);
    // The tail of a long line that says nothing (blanks, words) is no line
    // of its own: it must not repeat the previous command.
    if (items == 0 && remainder)
        return 0;
    if (items == 0 && quiet_sink && s->has_token)
        quiet_sink(quiet_context, s->line, "no delay: repeats the previous line's command");
    if (items == 2) {
        std::memcpy(s->token, token, sizeof token);
        s->has_token = true;
    }
    if (!s->has_token)
        return 0; // nothing to send yet
    if (checking) {
        checking->delays_ms += s->delay > 1 ? s->delay : 1; // as wait_ms sleeps
        if (!resolve_token(s, model))
            note_unknown(s->token, s->line);
        else
            check_frame(s->line, s->token, s->code, model);
        return 0;
    }
    if (watching)
        watching->at_line(watching->context, s->line);
    wait_ms(s->delay);
    if (stop_asked())
        return 0;
    if (!resolve_token(s, model)) {
        if (watching)
            watching->unknown(watching->context, s->line, s->token);
        return 0;
    }
    bool disturbed = false;
    int status = send_command(port, s->token, s->code, model, &disturbed);
    if (watching && status == 0)
        watching->sent(watching->context, s->line, s->token, s->code, disturbed);
    return status;
}

// False at the end of the input or on a read error (see ferror).
bool read_piece(ScriptReader* reader, char piece[SCRIPT_PIECE_SIZE]) {
    int n = 0;
    while (n < SCRIPT_PIECE_SIZE - 1) {
        int c = next_char(reader);
        if (c == EOF)
            break;
        piece[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    piece[n] = '\0';
    return n > 0 && !reader_failed(reader);
}

// "-" is standard input, so that another program can pipe commands in as it
// decides them: each line plays as soon as it has arrived.
std::FILE* open_script(const char* path) {
    if (std::strcmp(path, "-") == 0)
        return stdin;
#ifdef _WIN32
    return std::fopen(path, "rb");
#else
    return std::fopen(path, "rbe"); // close-on-exec
#endif
}

// Plays what the reader reads; 0, or 1 when the port failed or the file
// could not be read (path names it in the message).
int play_script(ScriptReader* reader, const char* path, Port* port, RobotModel model) {
    ScriptState state;
    state.delay = 0;
    state.token[0] = '\0';
    state.has_token = false;
    state.code = 0;
    state.line = 1;

    char piece[SCRIPT_PIECE_SIZE];
    bool first = true;
    bool remainder = false; // this piece goes on with the line of the one before
    bool comment = false;   // ... and that line is a comment
    int status = 0;
    while (status == 0 && !stop_asked()) {
        errno = 0;
        bool got = read_piece(reader, piece);
        if (stop_asked())
            break;
        if (reader_failed(reader)) {
            // A directory opens on some systems but cannot be read as a file.
            if (first && errno == EISDIR)
                std::printf("tarvik: error opening file %s, errno=%d\n", path, errno);
            else
                std::printf("tarvik: error reading file %s, errno=%d\n", path, errno);
            status = 1;
            break;
        }
        if (!got)
            break;
        first = false;
        std::size_t n = std::strlen(piece);
        bool line_goes_on = n == SCRIPT_PIECE_SIZE - 1 && piece[n - 1] != '\n';
        // A comment never moves the robot, however long it is.
        comment = remainder ? comment : piece[0] == '#';
        if (quiet_sink && line_goes_on && !remainder && !comment)
            quiet_sink(quiet_context, state.line, "longer than 49 characters: read in pieces");
        if (!comment)
            status = play_line(&state, piece, remainder, port, model);
        remainder = line_goes_on;
        state.line += remainder ? 0 : 1;
    }
    return status;
}

} // namespace

int run_script(Port* port, const char* path, RobotModel model) {
    std::FILE* file = open_script(path);
    if (!file) {
        std::printf("tarvik: error opening file %s, errno=%d\n", path, errno);
        return 1;
    }
    ScriptReader reader;
    reader_init(&reader, file, nullptr, 0);
    int status = play_script(&reader, path, port, model);
    if (file != stdin)
        std::fclose(file);
    return status;
}

int play_script_text(Port* port, const char* text, std::size_t length, RobotModel model,
                     const ScriptWatch* watch) {
    ScriptReader reader;
    reader_init(&reader, nullptr, text, length);
    watching = watch;
    int status = play_script(&reader, "", port, model);
    watching = nullptr;
    return status;
}

int check_frames(const char* script_path, const char* name, command_code code, RobotModel model,
                 bool wakeup) {
    Check check = {wakeup ? 100 : 0, 0, 0, "", false};
    checking = &check;
    int status = 0;
    if (script_path)
        status = run_script(nullptr, script_path, model);
    else
        check_frame(0, name, code, model);
    checking = nullptr;
    std::printf("%d frame%s", check.frames, check.frames == 1 ? "" : "s");
    if (check.unknown[0])
        std::printf("; unrecognized: %s%s", check.unknown, check.unknown_cut ? ", ..." : "");
    std::printf("; ");
    print_seconds(check.delays_ms, check.units);
    std::printf(" in all\n");
    return status != 0 || check.unknown[0] ? 1 : 0;
}

int check_script_text(const char* text, std::size_t length, RobotModel model, bool wakeup,
                      ProblemSink sink, void* context, int* frames, double* seconds) {
    Check check = {wakeup ? 100 : 0, 0, 0, "", false};
    checking = &check;
    quiet_sink = sink;
    quiet_context = context;
    ScriptReader reader;
    reader_init(&reader, nullptr, text, length);
    play_script(&reader, "", nullptr, model);
    quiet_sink = nullptr;
    checking = nullptr;
    *frames = check.frames;
    *seconds = (static_cast<double>(check.delays_ms) * 1000 +
                static_cast<double>((check.units * 5000 + 3) / 6)) /
               1e6;
    return check.unknown[0] ? 1 : 0;
}
