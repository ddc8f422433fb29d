// The script player: one timed command per line.
#pragma once

#include "../core/commands.h"
#include "../core/port.h"

#include <cstdio>

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

void reader_init(ScriptReader* reader, std::FILE* file);
// False at the end of the input or on a read error (see ferror).
bool read_piece(ScriptReader* reader, char piece[SCRIPT_PIECE_SIZE]);

// 0 when the script was played to its end, 1 when it cannot be opened or read.
int run_script(PortHandle port, const char* path, RobotModel model);
