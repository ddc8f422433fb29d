#include "check.h"

#include "../player/script.h"

#include <nlohmann/json.hpp>

using json = nlohmann::ordered_json;

namespace {

// A script of a million unknown names would make an answer of tens of
// megabytes: the page shows the first problems only anyway.
const std::size_t MAX_PROBLEMS = 1000;

void note_problem(void* context, int line, const char* message) {
    json* problems = static_cast<json*>(context);
    if (problems->size() < MAX_PROBLEMS)
        problems->push_back({{"line", line}, {"message", message}});
}

} // namespace

json script_check(const std::string& text, RobotModel model) {
    json problems = json::array();
    int frames = 0;
    double seconds = 0;
    // The remote sends its wake-up byte once, at its start: a script played
    // from the page has none of its own.
    check_script_text(text.data(), text.size(), model, false, note_problem, &problems, &frames,
                      &seconds);
    return json{
        {"frames", frames},
        {"seconds", static_cast<double>(static_cast<long long>(seconds * 1000 + 0.5)) / 1000},
        {"problems", problems}};
}
