#include "commands.h"

#include <cstdio>
#include <cstring>

const char* const v1_command_names[V1_COMMAND_COUNT] = {
    // 0x80
    "turn_right", "right_arm_up", "right_arm_out", "tilt_body_right", "right_arm_down",
    "right_arm_in", "walk_forward", "walk_backward", "turn_left", "left_arm_up", "left_arm_out",
    "tilt_body_left", "left_arm_down", "left_arm_in", "stop", "-",
    // 0x90
    "master_program", "play", "right_program", "left_program", "sonic_program", "-", "-", "-",
    "quiet_execute", "-", "quiet_execute_with_subroutines", "-", "-", "-", "-", "-",
    // 0xA0
    "right_turn_step", "right_hand_thump", "right_hand_throw", "sleep", "right_hand_pickup",
    "lean_backward", "forward_step", "backward_step", "left_turn_step", "left_hand_thump",
    "left_hand_throw", "listen", "left_hand_pickup", "lean_forward", "reset", "-",
    // 0xB0
    "master_execute", "wakeup", "right_execute", "left_execute", "sonic_execute", "-", "-", "-",
    "-", "-", "-", "-", "-", "-", "-", "-",
    // 0xC0
    "right_hand_strike_3", "right_hand_sweep", "burp", "right_hand_strike", "high_5",
    "right_hand_strike_1", "bulldozer", "oops", "left_hand_strike_3", "left_hand_sweep", "whistle",
    "left_hand_strike_2", "talkback", "left_hand_strike_1", "roar", "-",
    // 0xD0
    "all_demo", "power_off", "demo_1", "demo_2", "dance", "-", "karate_chop", "-", "-", "-", "-",
    "-", "-", "-", "-", "-",
    // 0xE0
    "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-",
    // 0xF0
    "-", "-", "-", "-", "-", "-", "feet_shuffle", "-", "-", "-", "-", "nothing", "raise_arm_throw",
    "-", "-", "-"};

const CommandRow v2_commands[V2_COMMAND_COUNT] = {
    {"_walking", 0x300},
    {"stop", 0x3AA},
    {"sonic_sensors_on_off", 0x383},
    {"vision_systems_on_off", 0x380},
    {"positional_program_entry", 0x381},
    {"positional_program_play", 0x352},
    {"gait_change_quit_reset", 0x390},
    {"free_roam", 0x382},
    {"dance_demo", 0x350},
    {"_head_and_upper_body", 0x320},
    {"reset", 0x353},
    {"right_arm_throw", 0x355},
    {"right_arm_low_pickup", 0x356},
    {"right_arm_high_pickup", 0x357},
    {"right_arm_grab", 0x358},
    {"right_arm_give", 0x359},
    {"right_arm_roll", 0x35A},
    {"movement_demo", 0x354},
    {"_right_arm", 0x328},
    {"sleep_wake_up", 0x386},
    {"left_arm_throw", 0x35C},
    {"left_arm_low_pickup", 0x35D},
    {"left_arm_high_pickup", 0x35E},
    {"left_arm_grab", 0x35F},
    {"left_arm_give", 0x360},
    {"left_arm_roll", 0x361},
    {"lie_down_sit_up_lie_down_stand_up", 0x351},
    {"_left_arm", 0x330},
    {"get_up", 0x364},
    {"right_kick", 0x362},
    {"right_push", 0x365},
    {"right_chop", 0x366},
    {"left_chop", 0x367},
    {"left_push", 0x368},
    {"left_kick", 0x363},
    {"oops", 0x35B},
    {"_hip_and_waist_tilt", 0x340},
    {"clear_program", 0x3F4},
    {"sound_program", 0x3F1},
    {"vision_program", 0x3F0},
    {"main_program", 0x3F5},
    {"perform_program", 0x3F6},
    {"guard_mode", 0x3F2},
    {"clear_entry", 0x3F3},
    {"high_5", 0x369},
    {"_both_arms", 0x338},
    {"bulldozer_forward", 0x36A},
    {"laugh", 0x36C},
    {"insult", 0x36D},
    {"right_arm_drop", 0x36E},
    {"left_arm_drop", 0x36F},
    {"plan", 0x370},
    {"spare_change", 0x371},
    {"hey_baby", 0x36B},
    {"_head_only", 0x348},
    {"bulldozer_backward", 0x372},
    {"roar", 0x374},
    {"diode", 0x375},
    {"fetch", 0x376},
    {"danger", 0x377},
    {"calm_down", 0x378},
    {"hug", 0x379},
    {"burp", 0x373},
    {"_head_and_upper_body", 0x310},
    {"power_down", 0x384},
    {"mektarvik_v2_interaction", 0x385},
    {"dravix_interaction", 0x387},
    {"fuzlo_interaction", 0x388},
    {"manual_color_mode_daylight", 0x389},
    {"manual_color_mode_indoor_yellow", 0x38A},
    {"manual_color_mode_indoor_white", 0x38B},
    {"dont_press", 0x37A},
    {"_upper_body_only", 0x318},
};

const CommandRow pet_commands[PET_COMMAND_COUNT] = {
    {"wake_up", 0x2C1},    {"sleep", 0x2C1},    {"stop", 0x28E},       {"guard", 0x2C3},
    {"demo", 0x2C8},       {"good_dog", 0x2C4}, {"bad_dog", 0x2C5},    {"turn_left", 0x280},
    {"turn_right", 0x288}, {"forward", 0x286},  {"backward", 0x287},   {"roll_over", 0x2E1},
    {"jump", 0x2E6},       {"scratch", 0x2E9},  {"howl", 0x2E3},       {"paw", 0x2E4},
    {"play_dead", 0x2E2},  {"relief", 0x2E5},   {"break_wind", 0x2E7}, {"rock", 0x2E8},
};

namespace {

// Index of the first (or last) row equal to key, or -1.
int find_v1(const char* key, bool last) {
    int found = -1;
    for (int i = 0; i < V1_COMMAND_COUNT; ++i) {
        if (std::strcmp(key, v1_command_names[i]) == 0) {
            found = i;
            if (!last)
                break;
        }
    }
    return found;
}

int find_row(const CommandRow* rows, int count, const char* key, bool last) {
    int found = -1;
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(key, rows[i].name) == 0) {
            found = i;
            if (!last)
                break;
        }
    }
    return found;
}

// Model 2 names may carry a direction prefix "D<digit>". The digit is not
// range-checked: any byte after "D" counts, as a signed 8-bit value.
command_code resolve_v2(const char* name, bool last) {
    const char* key = name;
    command_code direction = 0;
    if (name[0] == 'D') {
        if (name[1] == '\0')
            return 0; // a lone "D" has no key; never read past the name
        direction = static_cast<signed char>(name[1]) - 48;
        key = name + 2;
    }
    int row = find_row(v2_commands, V2_COMMAND_COUNT, key, last);
    return row < 0 ? 0 : v2_commands[row].code + direction;
}

command_code resolve_pet(const char* name, bool last) {
    int row = find_row(pet_commands, PET_COMMAND_COUNT, name, last);
    return row < 0 ? 0 : pet_commands[row].code;
}

command_code resolve_v1(const char* name, bool last) {
    int index = find_v1(name, last);
    return index < 0 ? 0 : V1_FIRST_CODE + index;
}

} // namespace

command_code find_command(const char* name, RobotModel model) {
    if (model == MODEL_V1)
        return resolve_v1(name, false);
    if (model == MODEL_V2)
        return resolve_v2(name, false);
    if (model == MODEL_PET)
        return resolve_pet(name, false);
    return 0;
}

command_code lookup_command(const char* name, RobotModel model) {
    command_code code = find_command(name, model);
    if (code == 0)
        std::printf("tarvik: unrecognized command: %s\n", name);
    return code;
}

command_code decode_command(const char* name, RobotModel model) {
    if (model == MODEL_V1)
        return resolve_v1(name, true);
    if (model == MODEL_V2)
        return resolve_v2(name, true);
    return resolve_pet(name, true);
}
