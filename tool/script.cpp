#include "script.h"

#include "../core/frame.h"
#include "../core/timing.h"
#include "crt_scan.h"
#include "send.h"

#include <cstdio>

#include <cerrno>
#include <cstring>

namespace {

// Reads a script as a Windows text-mode stream with a 50-byte line buffer, so
// that a script plays the same on every build: CR LF becomes LF, a byte 0x1A
// ends the input, and a line is read in pieces of at most 49 characters.
const int SCRIPT_PIECE_SIZE = 50;
const int NO_PENDING = -2;

struct ScriptReader {
    std::FILE* file;
    int pending; // a byte read ahead after a CR, or NO_PENDING
    bool ended;
};

void reader_init(ScriptReader* reader, std::FILE* file) {
    reader->file = file;
    reader->pending = NO_PENDING;
    reader->ended = false;
}

int raw_char(ScriptReader* r) {
    if (r->pending != NO_PENDING) {
        int c = r->pending;
        r->pending = NO_PENDING;
        return c;
    }
    return std::getc(r->file);
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
};

void wait_ms(std::int32_t delay) {
    const std::int64_t target = static_cast<std::int64_t>(delay) * timing.frequency / 1000;
    const std::int64_t start = plat_counter();
    do {
        plat_sleep_ms(1);
    } while (plat_counter() - start < target && !plat_interrupted());
}

// Returns whether the line's command resolved to a frame.
bool resolve_token(ScriptState* s, RobotModel model) {
    if (s->token[0] == '0' && s->token[1] == 'x') {
        scan_hex32(s->token + 2, &s->code);
        return true;
    }
    s->code = lookup_command(s->token, model);
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
    if (items == 2) {
        std::memcpy(s->token, token, sizeof token);
        s->has_token = true;
    }
    if (!s->has_token)
        return 0; // nothing to send yet
    wait_ms(s->delay);
    if (plat_interrupted() || !resolve_token(s, model))
        return 0;
    return send_command(port, s->code, model);
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
    return n > 0 && !std::ferror(reader->file);
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

} // namespace

int run_script(Port* port, const char* path, RobotModel model) {
    std::FILE* file = open_script(path);
    if (!file) {
        std::printf("tarvik: error opening file %s, errno=%d\n", path, errno);
        return 1;
    }
    ScriptReader reader;
    reader_init(&reader, file);
    ScriptState state;
    state.delay = 0;
    state.token[0] = '\0';
    state.has_token = false;
    state.code = 0;

    char piece[SCRIPT_PIECE_SIZE];
    bool first = true;
    bool remainder = false; // this piece goes on with the line of the one before
    bool comment = false;   // ... and that line is a comment
    int status = 0;
    while (status == 0 && !plat_interrupted()) {
        errno = 0;
        bool got = read_piece(&reader, piece);
        if (plat_interrupted())
            break;
        if (std::ferror(file)) {
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
        if (!comment)
            status = play_line(&state, piece, remainder, port, model);
        remainder = line_goes_on;
    }
    if (file != stdin)
        std::fclose(file);
    return status;
}
