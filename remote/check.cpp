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

int fail(std::string* answer, const std::string& message) {
    *answer = json{{"error", message}}.dump();
    return 400;
}

} // namespace

int check_answer(const std::string& body, RobotModel server_model, std::string* answer) {
    // The same rules as every other POST: an object, known fields only.
    json request = json::parse(body, nullptr, false);
    if (request.is_discarded() || !request.is_object())
        return fail(answer, "malformed JSON: expected an object");
    for (const auto& item : request.items())
        if (item.key() != "text" && item.key() != "model")
            return fail(answer, "unknown field: " + item.key());
    if (!request.contains("text") || !request["text"].is_string())
        return fail(answer, "expected a string field: text");
    RobotModel model = server_model;
    if (request.contains("model")) {
        const json& given = request["model"];
        if (!given.is_number_integer() || given.get<int>() < MODEL_V1 ||
            given.get<int>() > MODEL_PET)
            return fail(answer, "model must be 1, 2 or 3");
        model = given.get<int>();
    }
    const std::string& text = request["text"].get_ref<const std::string&>();
    json problems = json::array();
    int frames = 0;
    double seconds = 0;
    // The remote sends its wake-up byte once, at its start: a script played
    // from the page has none of its own.
    check_script_text(text.data(), text.size(), model, false, note_problem, &problems, &frames,
                      &seconds);
    json out = {
        {"frames", frames},
        {"seconds", static_cast<double>(static_cast<long long>(seconds * 1000 + 0.5)) / 1000},
        {"problems", problems}};
    // Names are cut at 49 bytes, possibly inside a UTF-8 character.
    *answer = out.dump(-1, ' ', false, json::error_handler_t::replace);
    return 200;
}
