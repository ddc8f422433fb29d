// The command vocabulary of the three robot models and name resolution.
#pragma once

#include <cstdint>

typedef int RobotModel;
const RobotModel MODEL_V1 = 1;
const RobotModel MODEL_V2 = 2;
const RobotModel MODEL_PET = 3;

typedef std::int32_t command_code;

struct CommandRow {
    const char* name;
    command_code code;
};

const int V1_COMMAND_COUNT = 128;
const int V2_COMMAND_COUNT = 73;
const int PET_COMMAND_COUNT = 20;
const command_code V1_FIRST_CODE = 0x80;

// Model 1: the name at index i has code 0x80 + i; "-" marks an unused code.
extern const char* const v1_command_names[V1_COMMAND_COUNT];
extern const CommandRow v2_commands[V2_COMMAND_COUNT];
extern const CommandRow pet_commands[PET_COMMAND_COUNT];

// The program's resolution: first equal entry wins; prints the
// unrecognised-command message and returns 0 when nothing matches.
command_code lookup_command(const char* name, RobotModel model);
// The same resolution without a word: 0 when nothing matches.
command_code find_command(const char* name, RobotModel model);

// The same, silent: 0 when nothing matches.
command_code find_command(const char* name, RobotModel model);

// The library's resolution: last equal entry wins, any model other than 1
// and 2 means the pet table, and nothing is printed.
command_code decode_command(const char* name, RobotModel model);
