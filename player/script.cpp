#include "script.h"

#include "../core/frame.h"
#include "../core/timing.h"
#include "crt_scan.h"
#include "hint.h"
#include "send.h"

#include <cstdio>

#include <cerrno>
#include <cstring>

namespace {

// Reads a script as a Windows text-mode stream with a 50-byte line buffer, so
// that a script plays the same on every build: CR LF becomes LF, a byte 0x1A
// ends the input, and a line is read in pieces of at most 49 characters.
const int SCRIPT_PIECE_SIZE = 50;

struct ScriptReader {
    std::FILE* file;  // or null, for a script held in memory:
    const char* text; // ... its bytes not yet read
    std::size_t left;
    int back[4]; // bytes read ahead and given back, the next one last
    int back_count;
    bool started; // past the byte-order mark, if any
    bool ended;
};

void reader_init(ScriptReader* reader, std::FILE* file, const char* text, std::size_t length) {
    reader->file = file;
    reader->text = text;
    reader->left = length;
    reader->back_count = 0;
    reader->started = false;
    reader->ended = false;
}

bool reader_failed(const ScriptReader* reader) {
    return reader->file && std::ferror(reader->file);
}

int raw_char(ScriptReader* r) {
    if (r->back_count > 0)
        return r->back[--r->back_count];
    if (r->file)
        return std::getc(r->file);
    if (r->left == 0)
        return EOF;
    --r->left;
    return static_cast<unsigned char>(*r->text++);
}

void unread(ScriptReader* r, int c) {
    r->back[r->back_count++] = c;
}

// Windows editors start UTF-8 files with a byte-order mark; it is no part of
// the first line. Read byte by byte, so that standard input is never waited
// on for more than the mark.
void skip_byte_order_mark(ScriptReader* r) {
    static const int MARK[3] = {0xEF, 0xBB, 0xBF};
    int got[3];
    int n = 0;
    while (n < 3) {
        int c = raw_char(r);
        got[n++] = c;
        if (c != MARK[n - 1])
            break;
    }
    if (n == 3 && got[2] == MARK[2])
        return;
    while (n > 0)
        unread(r, got[--n]);
}

int next_char(ScriptReader* r) {
    if (r->ended)
        return EOF;
    if (!r->started) {
        r->started = true;
        skip_byte_order_mark(r);
    }
    int c = raw_char(r);
    if (c == '\r') {
        int next = raw_char(r);
        if (next == '\n')
            return '\n';
        unread(r, next);
    }
    if (c == EOF || c == 0x1A) {
        r->ended = true;
        return EOF;
    }
    return c;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

// The first word of a text, cut to fit.
void first_word(const char* text, char* word, std::size_t size) {
    while (is_blank(*text))
        ++text;
    std::size_t n = 0;
    for (; *text && !is_blank(*text) && n + 1 < size; ++text)
        word[n++] = *text;
    word[n] = '\0';
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
    bool unknown_names;
    char unknown[512]; // the unrecognised names, with their lines
    bool unknown_cut;  // ... more than that holds
    bool print;        // -check: the frames and the summary on standard output
};

// What may be wrong with a line that the reading itself passes over.
enum Problem { PROBLEM_UNKNOWN, PROBLEM_NO_DELAY, PROBLEM_NO_COMMAND, PROBLEM_CUT };

// One reading of a script: played to a port, or checked.
struct Player {
    Port* port; // null when checking
    RobotModel model;
    const char* path;         // names the script on standard error; null: nothing there
    const ScriptWatch* watch; // the remote control's play, or null
    Check* check;             // the check under way, or null when playing
    ProblemSink sink;         // a check of a script held in memory tells it here
    void* sink_context;
};

bool stop_asked(const Player* p) {
    return plat_interrupted() || (p->watch && p->watch->stop_asked(p->watch->context));
}

// Tells what may be wrong with a line. Standard error hears of a line
// without a delay while playing, of everything in -check; an unrecognised
// name has had its fixed message there, so only what may have been meant
// follows it.
void tell(const Player* p, int line, Problem problem, const char* detail) {
    bool checking = p->check != nullptr;
    if (!p->sink &&
        (!p->path || (!checking && problem != PROBLEM_NO_DELAY && problem != PROBLEM_UNKNOWN)))
        return;
    char message[400];
    if (problem == PROBLEM_UNKNOWN) {
        char hint[200];
        bool hinted = command_hint(detail, p->model, p->path != nullptr, hint, sizeof hint);
        if (p->sink)
            std::snprintf(message, sizeof message, "unrecognized command: %s%s%s%s", detail,
                          hinted ? " (" : "", hint, hinted ? ")" : "");
        else if (hinted)
            std::snprintf(message, sizeof message, "%s", hint);
        else
            return;
    } else {
        std::snprintf(message, sizeof message, "%s", detail);
    }
    if (p->sink) {
        p->sink(p->sink_context, line, message);
        return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "tarvik: %s line %d: %s\n",
                 std::strcmp(p->path, "-") == 0 ? "standard input" : p->path, line, message);
}

// Milliseconds, then pulse units of 1/1200 s, in microseconds.
std::int64_t check_us(const Check* check) {
    return check->delays_ms * 1000 + (check->units * 5000 + 3) / 6;
}

// As seconds with three decimals.
void print_seconds(std::int64_t us) {
    std::printf("%lld.%03lld s", static_cast<long long>(us / 1000000),
                static_cast<long long>((us + 500) / 1000 % 1000));
}

// One frame of the check: when it would go out, what, and its bits.
void check_frame(Check* check, int line, const char* name, command_code code, RobotModel model) {
    if (check->print) {
        if (line > 0)
            std::printf("line %d: ", line);
        print_seconds(check_us(check));
        std::printf(": ");
        describe_frame(stdout, name, code, model);
        std::putchar('\n');
    }
    unsigned char units[MAX_FRAME_PULSES];
    int count = frame_units(code, model, units);
    for (int i = 0; i < count; ++i)
        check->units += units[i];
    ++check->frames;
}

void note_unknown(Check* check, const char* name, int line) {
    check->unknown_names = true;
    if (check->print)
        std::printf("tarvik: unrecognized command: %s\n", name);
    std::size_t used = std::strlen(check->unknown);
    int n = std::snprintf(check->unknown + used, sizeof check->unknown - used, "%s%s (line %d)",
                          used ? ", " : "", name, line);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof check->unknown - used) {
        check->unknown[used] = '\0';
        check->unknown_cut = true;
    }
}

void wait_ms(const Player* p, std::int32_t delay) {
    const std::int64_t target = static_cast<std::int64_t>(delay) * timing.frequency / 1000;
    const std::int64_t start = plat_counter();
    do {
        plat_sleep_ms(1);
    } while (plat_counter() - start < target && !stop_asked(p));
}

// Returns whether the line's command resolved to a frame; quietly, without
// the command line's message, for checks and the remote, which tell of
// unknown names in their own way.
bool resolve_token(ScriptState* s, RobotModel model, bool quiet) {
    if (s->token[0] == '0' && s->token[1] == 'x') {
        scan_hex32(s->token + 2, &s->code);
        return true;
    }
    s->code = quiet ? find_command(s->token, model) : lookup_command(s->token, model);
    return s->code != 0;
}

// A line that holds a delay but no command, or text without a delay: the
// reading repeats the previous command there, which is seldom what was meant.
void tell_carry_over(const Player* p, const ScriptState* s, int items, const char* line) {
    char word[SCRIPT_PIECE_SIZE], message[300];
    first_word(line, word, sizeof word);
    if (items == 0 && s->has_token)
        std::snprintf(message, sizeof message,
                      "no delay before \"%s\": the line repeats %s (write \"0 %s\")", word,
                      s->token, word);
    else if (items == 0)
        std::snprintf(message, sizeof message,
                      "no delay before \"%s\": nothing before it to repeat, the line is skipped "
                      "(write \"0 %s\")",
                      word, word);
    else if (s->has_token)
        std::snprintf(message, sizeof message, "\"%s\" has no command: the line repeats %s", word,
                      s->token);
    else
        std::snprintf(message, sizeof message,
                      "\"%s\" has no command and nothing before it to repeat: the line is "
                      "skipped",
                      word);
    tell(p, s->line, items == 0 ? PROBLEM_NO_DELAY : PROBLEM_NO_COMMAND, message);
}

// Plays one line, or the remainder of a long one; 0, or 1 when the port
// failed.
int play_line(Player* p, ScriptState* s, char* line, bool remainder) {
    char token[SCRIPT_PIECE_SIZE];
    int items = scan_delay_and_token(line, &s->delay, token, sizeof token);
    // The tail of a long line that says nothing (blanks, words) is no line
    // of its own: it must not repeat the previous command.
    if (items == 0 && remainder)
        return 0;
    if (items < 2)
        tell_carry_over(p, s, items, line);
    if (items == 2) {
        std::memcpy(s->token, token, sizeof token);
        s->has_token = true;
    }
    if (!s->has_token)
        return 0; // nothing to send yet
    if (p->check) {
        p->check->delays_ms += s->delay > 1 ? s->delay : 1; // as wait_ms sleeps
        if (!resolve_token(s, p->model, true)) {
            note_unknown(p->check, s->token, s->line);
            tell(p, s->line, PROBLEM_UNKNOWN, s->token);
        } else {
            check_frame(p->check, s->line, s->token, s->code, p->model);
        }
        return 0;
    }
    if (p->watch)
        p->watch->at_line(p->watch->context, s->line);
    wait_ms(p, s->delay);
    if (stop_asked(p))
        return 0;
    if (!resolve_token(s, p->model, p->watch != nullptr)) {
        if (p->watch)
            p->watch->unknown(p->watch->context, s->line, s->token);
        tell(p, s->line, PROBLEM_UNKNOWN, s->token);
        return 0;
    }
    bool disturbed = false;
    int status = send_command(p->port, s->token, s->code, p->model, &disturbed);
    if (p->watch && status == 0)
        p->watch->sent(p->watch->context, s->line, s->token, s->code, disturbed);
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

// The file's name with its error: the fixed message, then the reason.
void tell_file_error(const char* what, const char* path, int error) {
    std::printf("tarvik: error %s file %s, errno=%d\n", what, path, error);
    std::fflush(stdout);
    std::fprintf(stderr, "tarvik: %s: %s\n", path, std::strerror(error));
}

// What a line is, as far as its pieces have shown it.
enum LineKind { LINE_BLANK, LINE_COMMENT, LINE_TEXT };

// Plays, or checks, what the reader reads; 0, or 1 when the port failed or
// the file could not be read.
int play_script(Player* p, ScriptReader* reader) {
    ScriptState state;
    state.delay = 0;
    state.token[0] = '\0';
    state.has_token = false;
    state.code = 0;
    state.line = 1;

    char piece[SCRIPT_PIECE_SIZE];
    LineKind kind = LINE_BLANK; // of the line so far
    bool cut_told = false;      // the line's cut was told
    int status = 0;
    while (status == 0 && !stop_asked(p)) {
        errno = 0;
        bool got = read_piece(reader, piece);
        if (stop_asked(p))
            break;
        if (reader_failed(reader)) {
            tell_file_error("reading", p->path, errno);
            status = 1;
            break;
        }
        if (!got)
            break;
        std::size_t n = std::strlen(piece);
        bool line_goes_on = n == SCRIPT_PIECE_SIZE - 1 && piece[n - 1] != '\n';
        if (n > 0 && piece[n - 1] == '\n')
            piece[--n] = '\0';
        const char* first = piece;
        while (is_blank(*first))
            ++first;
        if (kind == LINE_BLANK && *first != '\0') {
            // Blank lines and comments, indented or not, never move the
            // robot, however long they are.
            kind = *first == '#' ? LINE_COMMENT : LINE_TEXT;
            if (kind == LINE_TEXT)
                status = play_line(p, &state, piece, false);
        } else if (kind == LINE_TEXT && *first != '\0') {
            if (!cut_told) {
                tell(p, state.line, PROBLEM_CUT,
                     "longer than 49 characters: the player reads the rest as lines of their "
                     "own");
                cut_told = true;
            }
            if (*first != '#')
                status = play_line(p, &state, piece, true);
        }
        if (!line_goes_on) {
            kind = LINE_BLANK;
            cut_told = false;
            ++state.line;
        }
    }
    return status;
}

Player make_player(Port* port, RobotModel model, const char* path) {
    Player p = {port, model, path, nullptr, nullptr, nullptr, nullptr};
    return p;
}

Check make_check(bool wakeup, bool print) {
    Check check = {wakeup ? 100 : 0, 0, 0, false, "", false, print};
    return check;
}

} // namespace

std::FILE* open_script(const char* path) {
    // "-" is standard input, so that another program can pipe commands in
    // as it decides them: each line plays as soon as it has arrived.
    if (std::strcmp(path, "-") == 0)
        return stdin;
#ifdef _WIN32
    std::FILE* file = std::fopen(path, "rb");
#else
    std::FILE* file = std::fopen(path, "rbe"); // close-on-exec
#endif
    if (!file) {
        tell_file_error("opening", path, errno);
        return nullptr;
    }
    // A directory opens on some systems but cannot be read as a file.
    errno = 0;
    int c = std::getc(file);
    if (c == EOF && std::ferror(file)) {
        int error = errno;
        tell_file_error(error == EISDIR ? "opening" : "reading", path, error);
        std::fclose(file);
        return nullptr;
    }
    if (c != EOF)
        std::ungetc(c, file);
    return file;
}

void close_script(std::FILE* file) {
    if (file && file != stdin)
        std::fclose(file);
}

int run_script(Port* port, std::FILE* file, const char* path, RobotModel model) {
    ScriptReader reader;
    reader_init(&reader, file, nullptr, 0);
    Player p = make_player(port, model, path);
    return play_script(&p, &reader);
}

int play_script_text(Port* port, const char* text, std::size_t length, RobotModel model,
                     const ScriptWatch* watch) {
    ScriptReader reader;
    reader_init(&reader, nullptr, text, length);
    Player p = make_player(port, model, nullptr);
    p.watch = watch;
    return play_script(&p, &reader);
}

int check_script_text(const char* text, std::size_t length, RobotModel model, bool wakeup,
                      ProblemSink sink, void* context, int* frames, double* seconds) {
    ScriptReader reader;
    reader_init(&reader, nullptr, text, length);
    Check check = make_check(wakeup, false);
    Player p = make_player(nullptr, model, nullptr);
    p.check = &check;
    p.sink = sink;
    p.sink_context = context;
    play_script(&p, &reader);
    if (frames)
        *frames = check.frames;
    if (seconds)
        *seconds = static_cast<double>(check_us(&check)) / 1e6;
    return check.unknown_names ? 1 : 0;
}

int check_frames(const char* script_path, const char* name, command_code code, RobotModel model,
                 bool wakeup) {
    Check check = make_check(wakeup, true);
    int status = 0;
    if (script_path) {
        std::FILE* file = open_script(script_path);
        if (!file)
            return 1;
        ScriptReader reader;
        reader_init(&reader, file, nullptr, 0);
        Player p = make_player(nullptr, model, script_path);
        p.check = &check;
        status = play_script(&p, &reader);
        close_script(file);
    } else {
        check_frame(&check, 0, name, code, model);
    }
    std::printf("%d frame%s", check.frames, check.frames == 1 ? "" : "s");
    if (check.unknown[0])
        std::printf("; unrecognized: %s%s", check.unknown, check.unknown_cut ? ", ..." : "");
    std::printf("; ");
    print_seconds(check_us(&check));
    std::printf(" in all\n");
    return status != 0 || check.unknown_names ? 1 : 0;
}
