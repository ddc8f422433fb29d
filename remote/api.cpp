#include "api.h"

#include "../player/command.h"
#include "check.h"
#include "events.h"
#include "network.h"
#include "sender.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstring>

using json = nlohmann::ordered_json;

extern const char remote_page[];

namespace {

void reply(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void fail(httplib::Response& res, int status, const std::string& message) {
    reply(res, status, json{{"error", message}});
}

// The body: an object with the string field, and optionally "model" (else
// the server's own), nothing else. False after a 400.
bool read_body(const httplib::Request& req, httplib::Response& res, const char* field,
               RobotModel server_model, std::string* value, RobotModel* model) {
    json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        fail(res, 400, "malformed JSON: expected an object");
        return false;
    }
    for (const auto& item : body.items())
        if (item.key() != field && item.key() != "model") {
            fail(res, 400, "unknown field: " + item.key());
            return false;
        }
    if (!body.contains(field) || !body[field].is_string()) {
        fail(res, 400, std::string("expected a string field: ") + field);
        return false;
    }
    *value = body[field].get<std::string>();
    *model = server_model;
    if (!body.contains("model"))
        return true;
    const json& given = body["model"];
    if (!given.is_number_integer() || given.get<int>() < MODEL_V1 || given.get<int>() > MODEL_PET) {
        fail(res, 400, "model must be 1, 2 or 3");
        return false;
    }
    *model = given.get<int>();
    return true;
}

// Answers a request the sender did not carry out; false when it did.
bool refused(httplib::Response& res, SendOutcome outcome) {
    switch (outcome) {
    case SEND_DONE:
        return false;
    case SEND_BUSY:
        fail(res, 409, "a script is playing: stop it first");
        break;
    case SEND_PORT_FAILED:
        fail(res, 503, "error writing port");
        break;
    case SEND_STOPPING:
        fail(res, 503, "the remote control is stopping");
    }
    return true;
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

void send(const httplib::Request& req, httplib::Response& res, RobotModel server_model) {
    std::string command;
    RobotModel model;
    if (!read_body(req, res, "command", server_model, &command, &model))
        return;
    command_code code = 0;
    // A name must not hide a NUL byte: it would be read only up to it.
    bool name = command.compare(0, 2, "0x") != 0;
    if ((name && command.find('\0') != std::string::npos) ||
        !read_command(command.c_str(), &model, &code)) {
        fail(res, 400, "unrecognized command: " + command);
        return;
    }
    if (!refused(res, sender_send(command, code, model)))
        reply(res, 200, json{{"code", code}, {"bits", frame_bits(model)}});
}

void play(const httplib::Request& req, httplib::Response& res, RobotModel server_model) {
    std::string text;
    RobotModel model;
    if (read_body(req, res, "text", server_model, &text, &model) &&
        !refused(res, sender_play(text, model)))
        reply(res, 202, json{{"playing", true}});
}

void stream_events(const httplib::Request& req, httplib::Response& res) {
    // A client that reconnects says what it saw last; a new one starts now.
    std::uint64_t after = events_latest();
    if (req.has_header("Last-Event-ID"))
        after = std::strtoull(req.get_header_value("Last-Event-ID").c_str(), nullptr, 10);
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream", [after](std::size_t, httplib::DataSink& sink) mutable {
            std::string out;
            if (!events_wait(&after, &out, 15000)) {
                sink.done();
                return true;
            }
            if (out.empty())
                out = ": still here\n\n"; // finds clients that have gone
            return sink.write(out.data(), out.size());
        });
}

} // namespace

void install_routes(httplib::Server* server, const Access* access, RobotModel model) {
    server->set_payload_max_length(REMOTE_BODY_LIMIT);
    server->set_pre_routing_handler([access](const httplib::Request& req, httplib::Response& res) {
        std::string key = req.get_param_value("key");
        if (key.empty())
            key = cookie_key(req.get_header_value("Cookie"));
        std::string why =
            refusal(*access, req.get_header_value("Host"), req.get_header_value("Origin"), key,
                    req.method == "GET" && req.path == "/");
        if (why.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        fail(res, 403, why);
        return httplib::Server::HandlerResponse::Handled;
    });
    server->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            fail(res, res.status,
                 res.status == 413   ? "request body larger than 1 MiB"
                 : res.status == 404 ? "no such page"
                                     : "request refused");
    });
    // The page opens on the model the server was started with.
    std::string page = remote_page;
    const std::string mark = "data-model=\"1\"";
    std::size_t at = page.find(mark);
    if (at != std::string::npos)
        page[at + mark.size() - 2] = static_cast<char>('0' + model);
    server->Get("/", [page](const httplib::Request&, httplib::Response& res) {
        // Everything the page needs is in it: nothing may load from elsewhere.
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                       "connect-src 'self'; img-src data:; frame-ancestors 'none'");
        res.set_header("Cache-Control", "no-store");
        res.set_content(page, "text/html; charset=utf-8");
    });
    server->Get("/api/commands", [](const httplib::Request& req, httplib::Response& res) {
        std::string text = req.get_param_value("model");
        if (text != "1" && text != "2" && text != "3")
            return fail(res, 400, "model must be 1, 2 or 3");
        reply(res, 200, command_list(text[0] - '0'));
    });
    server->Post("/api/send", [model](const httplib::Request& req, httplib::Response& res) {
        send(req, res, model);
    });
    server->Post("/api/script", [model](const httplib::Request& req, httplib::Response& res) {
        play(req, res, model);
    });
    server->Post("/api/stop", [](const httplib::Request&, httplib::Response& res) {
        reply(res, 200, json{{"stopped", sender_stop_script()}});
    });
    server->Get("/api/events", stream_events);
    server->Post("/api/check", [model](const httplib::Request& req, httplib::Response& res) {
        std::string answer;
        res.status = check_answer(req.body, model, &answer);
        res.set_content(answer, "application/json");
    });
    server->Get("/api/qr.svg", [](const httplib::Request&, httplib::Response& res) {
        std::string body, type;
        res.status = phone_qr_answer(&body, &type);
        res.set_content(body, type.c_str());
    });
}
