#include "api.h"

#include "../player/command.h"
#include "check.h"
#include "events.h"
#include "network.h"
#include "sender.h"

#include <nlohmann/json.hpp>

#include <cctype>

using json = nlohmann::ordered_json;

extern const char remote_page[];

namespace {

const Access* who_may;
RobotModel server_model;
std::string page; // opening on the server's model

Answer json_answer(int status, const json& body) {
    return Answer{status,
                  "application/json",
                  body.dump(-1, ' ', false, json::error_handler_t::replace),
                  {},
                  false,
                  0};
}

// A query parameter's value as it is written (the API's values need no
// decoding); false when it is not there.
bool query_value(const std::string& query, const std::string& name, std::string* value) {
    for (std::size_t at = 0; at <= query.size();) {
        std::size_t end = query.find('&', at);
        if (end == std::string::npos)
            end = query.size();
        if (query.compare(at, name.size() + 1, name + "=") == 0) {
            *value = query.substr(at + name.size() + 1, end - at - name.size() - 1);
            return true;
        }
        at = end + 1;
    }
    return false;
}

// "application/json", in any case, optionally followed by parameters.
bool says_json(const std::string& type) {
    static const std::string wanted = "application/json";
    if (type.size() < wanted.size())
        return false;
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(type[i])) != wanted[i])
            return false;
    std::size_t rest = type.find_first_not_of(" \t", wanted.size());
    return rest == std::string::npos || type[rest] == ';';
}

// The body: an object with the string field, and optionally "model" (else
// the server's own), nothing else. An error answer, or status 0.
Answer read_body(const Request& request, const char* field, std::string* value, RobotModel* model) {
    json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object())
        return error_answer(400, "malformed JSON: expected an object");
    for (const auto& item : body.items())
        if (item.key() != field && item.key() != "model")
            return error_answer(400, "unknown field: " + item.key());
    if (!body.contains(field) || !body[field].is_string())
        return error_answer(400, std::string("expected a string field: ") + field);
    *value = body[field].get<std::string>();
    *model = server_model;
    if (body.contains("model")) {
        // Compared as the number it is: 4294967298 is not 2. Positive
        // integers are read as unsigned ones.
        const json& given = body["model"];
        bool one_to_three = given.is_number_unsigned() && given.get<std::uint64_t>() >= 1 &&
                            given.get<std::uint64_t>() <= 3;
        if (!one_to_three)
            return error_answer(400, "model must be 1, 2 or 3");
        *model = given.get<int>();
    }
    return Answer{0, "", "", {}, false, 0};
}

// The answer for a request the sender did not carry out.
Answer refusal_answer(SendOutcome outcome) {
    switch (outcome) {
    case SEND_BUSY:
        return error_answer(409, "a script is playing: stop it first");
    case SEND_PORT_FAILED:
        return error_answer(503, "error writing port");
    default:
        return error_answer(503, "the remote control is stopping");
    }
}

json command_list(RobotModel model) {
    json list = json::array();
    if (model == MODEL_V1) {
        for (int i = 0; i < V1_COMMAND_COUNT; ++i)
            if (v1_command_names[i][0] != '-')
                list.push_back({{"name", v1_command_names[i]}, {"code", V1_FIRST_CODE + i}});
    } else {
        const CommandRow* rows = model == MODEL_V2 ? v2_commands : pet_commands;
        int count = model == MODEL_V2 ? V2_COMMAND_COUNT : PET_COMMAND_COUNT;
        for (int i = 0; i < count; ++i)
            list.push_back({{"name", rows[i].name}, {"code", rows[i].code}});
    }
    return list;
}

void show_page(const Request&, const Reply& reply) {
    Answer answer{200, "text/html; charset=utf-8", page, {}, false, 0};
    // Everything the page needs is in it: nothing may load from elsewhere.
    answer.headers.push_back(
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
         "connect-src 'self'; img-src data:; frame-ancestors 'none'"});
    reply(answer);
}

void list_commands(const Request& request, const Reply& reply) {
    std::string text = std::to_string(server_model);
    query_value(request.query, "model", &text);
    if (text != "1" && text != "2" && text != "3")
        return reply(error_answer(400, "model must be 1, 2 or 3"));
    reply(json_answer(200, command_list(text[0] - '0')));
}

void send(const Request& request, const Reply& reply) {
    std::string command;
    RobotModel model;
    Answer wrong = read_body(request, "command", &command, &model);
    if (wrong.status != 0)
        return reply(wrong);
    command_code code = 0;
    // A name must not hide a NUL byte: it would be read only up to it.
    if (command.find('\0') != std::string::npos || !resolve_command(command.c_str(), &model, &code))
        return reply(error_answer(400, "unrecognized command: " + command));
    sender_send(command, code, model, [reply, code, model](SendOutcome outcome) {
        reply(outcome != SEND_DONE
                  ? refusal_answer(outcome)
                  : json_answer(200, json{{"code", static_cast<std::uint32_t>(code)},
                                          {"bits", frame_bits(model)}}));
    });
}

void play(const Request& request, const Reply& reply) {
    std::string text;
    RobotModel model;
    Answer wrong = read_body(request, "text", &text, &model);
    if (wrong.status != 0)
        return reply(wrong);
    SendOutcome outcome = sender_play(text, model);
    reply(outcome != SEND_DONE ? refusal_answer(outcome)
                               : json_answer(202, json{{"playing", true}}));
}

void stop(const Request&, const Reply& reply) {
    reply(json_answer(200, json{{"stopped", sender_stop_script()}}));
}

// A script read as -check reads it, for the page's script box.
void check(const Request& request, const Reply& reply) {
    std::string text;
    RobotModel model;
    Answer wrong = read_body(request, "text", &text, &model);
    reply(wrong.status != 0 ? wrong : json_answer(200, script_check(text, model)));
}

void phone_qr(const Request&, const Reply& reply) {
    Answer answer{0, "", "", {}, false, 0};
    answer.status = phone_qr_answer(&answer.body, &answer.type);
    reply(answer);
}

// The sender thread's route to realtime, for the page's status line.
void status(const Request&, const Reply& reply) {
    reply(json_answer(200, json{{"realtime", sender_realtime()}}));
}

void stream_events(const Request& request, const Reply& reply) {
    Answer answer{200, "text/event-stream", "", {}, true, 0};
    // A client that reconnects says what it saw last; a new one starts now.
    answer.stream_from = events_start(request.has_last_event_id ? &request.last_event_id : nullptr);
    reply(answer);
}

typedef void (*Handler)(const Request& request, const Reply& reply);
struct Route {
    const char* method;
    const char* path;
    Handler handler;
};

const Route routes[] = {
    {"GET", "/", show_page},          {"GET", "/api/commands", list_commands},
    {"POST", "/api/send", send},      {"POST", "/api/script", play},
    {"POST", "/api/stop", stop},      {"GET", "/api/events", stream_events},
    {"GET", "/api/status", status},   {"POST", "/api/check", check},
    {"GET", "/api/qr.svg", phone_qr},
};

} // namespace

Answer error_answer(int status, const std::string& message) {
    return json_answer(status, json{{"error", message}});
}

void api_setup(const Access* access, RobotModel model) {
    who_may = access;
    server_model = model;
    page = remote_page;
    const std::string mark = "data-model=\"1\"";
    std::size_t at = page.find(mark);
    if (at != std::string::npos)
        page[at + mark.size() - 2] = static_cast<char>('0' + model);
}

void answer(const Request& request, const Reply& reply) {
    std::string key;
    if (!query_value(request.query, "key", &key))
        key = cookie_key(request.cookie);
    std::string why = refusal(*who_may, request.host, request.origin, key,
                              request.method == "GET" && request.path == "/");
    if (!why.empty())
        return reply(error_answer(403, why));
    for (const Route& route : routes)
        if (request.method == route.method && request.path == route.path) {
            // A form on another site can post text without asking first:
            // only a body that says it is JSON may drive the robot.
            if (request.method == "POST" && !says_json(request.content_type))
                return reply(error_answer(415, "expected Content-Type: application/json"));
            return route.handler(request, reply);
        }
    reply(error_answer(404, "no such page"));
}
