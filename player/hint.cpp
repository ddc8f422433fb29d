#include "hint.h"

#include <cstdio>
#include <cstring>

namespace {

const int MAX_EDITS = 2;
const int MAX_HINTS = 3;
const std::size_t LONGEST = 64; // longer than any name: never near one

// Edits between two names: insertions, deletions, replacements and swaps of
// neighbours, each counting one. More than MAX_EDITS when the lengths alone
// say so.
int edits(const char* a, const char* b) {
    std::size_t n = std::strlen(a), m = std::strlen(b);
    if (n >= LONGEST || m >= LONGEST || n > m + MAX_EDITS || m > n + MAX_EDITS)
        return MAX_EDITS + 1;
    int before[LONGEST + 1], last[LONGEST + 1], row[LONGEST + 1];
    for (std::size_t j = 0; j <= m; ++j)
        last[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= n; ++i) {
        row[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= m; ++j) {
            int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            int best = last[j - 1] + cost;
            if (last[j] + 1 < best)
                best = last[j] + 1;
            if (row[j - 1] + 1 < best)
                best = row[j - 1] + 1;
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] &&
                before[j - 2] + 1 < best)
                best = before[j - 2] + 1;
            row[j] = best;
        }
        std::memcpy(before, last, sizeof last);
        std::memcpy(last, row, sizeof row);
    }
    return last[m];
}

struct Near {
    char name[LONGEST + 2];
    int edits;
};

// Keeps the closest names, the earlier in the lists first among equals.
void consider(Near found[MAX_HINTS], int* count, const char* name, int distance) {
    if (distance > MAX_EDITS)
        return;
    for (int i = 0; i < *count; ++i)
        if (std::strcmp(found[i].name, name) == 0)
            return;
    int at = *count;
    while (at > 0 && found[at - 1].edits > distance)
        --at;
    if (at >= MAX_HINTS)
        return;
    int last = *count < MAX_HINTS ? *count : MAX_HINTS - 1;
    for (int i = last; i > at; --i)
        found[i] = found[i - 1];
    std::snprintf(found[at].name, sizeof found[at].name, "%s", name);
    found[at].edits = distance;
    if (*count < MAX_HINTS)
        ++*count;
}

// Model 2's names may be written with a direction: the one the user gave
// when it is one, else the first.
void consider_v2(Near found[MAX_HINTS], int* count, const char* name, const char* typed) {
    char direction = typed[0] == 'D' && typed[1] >= '0' && typed[1] <= '7' ? typed[1] : '0';
    char prefixed[LONGEST + 2];
    std::snprintf(prefixed, sizeof prefixed, "D%c%s", direction, name);
    int plain = edits(typed, name), with = edits(typed, prefixed);
    if (with < plain || (with == plain && typed[0] == 'D'))
        consider(found, count, prefixed, with);
    else
        consider(found, count, name, plain);
}

const char* model_name(RobotModel model) {
    return model == MODEL_V1 ? "MekTarvik v1" : model == MODEL_V2 ? "MekTarvik V2" : "Fuzlo";
}

// What to write on the command line to go from one model to another.
const char* advice(RobotModel from, RobotModel to) {
    if (to == MODEL_V1)
        return from == MODEL_V2 ? "drop -v2" : "drop -pet";
    if (from == MODEL_V1)
        return to == MODEL_V2 ? "add -v2" : "add -pet";
    return to == MODEL_V2 ? "-v2, not -pet" : "-pet, not -v2";
}

} // namespace

bool command_hint(const char* name, RobotModel model, bool options, char* text, std::size_t size) {
    text[0] = '\0';
    const RobotModel models[] = {MODEL_V1, MODEL_V2, MODEL_PET};
    for (RobotModel other : models) {
        if (other == model || find_command(name, other) == 0)
            continue;
        std::snprintf(text, size, "%s is a %s command", name, model_name(other));
        if (options && (model == MODEL_V1 || model == MODEL_V2 || model == MODEL_PET)) {
            std::size_t used = std::strlen(text);
            std::snprintf(text + used, size - used, " (%s)", advice(model, other));
        }
        return true;
    }
    Near found[MAX_HINTS];
    int count = 0;
    if (model == MODEL_V1) {
        for (int i = 0; i < V1_COMMAND_COUNT; ++i)
            if (v1_command_names[i][0] != '-')
                consider(found, &count, v1_command_names[i], edits(name, v1_command_names[i]));
    } else if (model == MODEL_V2) {
        for (int i = 0; i < V2_COMMAND_COUNT; ++i)
            consider_v2(found, &count, v2_commands[i].name, name);
    } else if (model == MODEL_PET) {
        for (int i = 0; i < PET_COMMAND_COUNT; ++i)
            consider(found, &count, pet_commands[i].name, edits(name, pet_commands[i].name));
    }
    if (count == 0)
        return false;
    // "a", "a or b", "a, b or c"
    std::snprintf(text, size, "did you mean %s%s%s%s%s?", found[0].name,
                  count == 3   ? ", "
                  : count == 2 ? " or "
                               : "",
                  count > 1 ? found[1].name : "", count == 3 ? " or " : "",
                  count == 3 ? found[2].name : "");
    return true;
}
