// The remote's routes: the page and the JSON API, free of the HTTP library:
// the server hands each request over as a Request and writes the Answer.
#pragma once

#include "../core/commands.h"
#include "access.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Bodies larger than this are refused (413).
const unsigned long REMOTE_BODY_LIMIT = 1 << 20;

struct Request {
    std::string method;
    std::string path;  // without the query
    std::string query; // after '?', or ""
    std::string body;
    std::string host, origin, cookie, content_type;
    bool has_last_event_id;
    std::string last_event_id;
};

struct Answer {
    int status;
    std::string type; // Content-Type
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool stream;               // the connection becomes an event stream ...
    std::uint64_t stream_from; // ... after this event
};

// Called once per request, from any thread; the server passes the answer on to
// its own thread.
typedef std::function<void(Answer)> Reply;

// Once, before the first request.
void api_setup(const Access* access, RobotModel model);
// Answers a request: who may ask, then its route.
void answer(const Request& request, const Reply& reply);
// A JSON error answer, {"error": message}.
Answer error_answer(int status, const std::string& message);
