// The server: one Asio io_context on the program's main thread carries every
// connection, request and event stream; nothing here ever blocks it. The
// sender thread alone owns the port; it hands its answers and events back to
// this thread through the io_context.
#include "remote.h"

#include "api.h"
#include "events.h"
#include "network.h"
#include "sender.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

// Limits that hold whatever clients do.
const std::uint32_t HEADER_LIMIT = 8 * 1024;
const std::size_t MAX_CONNECTIONS = 512;
const int MAX_STREAMS = 256;
const std::size_t STREAM_BACKLOG = 256 * 1024; // unwritten bytes that drop a stream
const std::chrono::seconds REQUEST_TIME(10);   // from a request's first byte to its last
const std::chrono::seconds IDLE_TIME(5);       // a kept-alive connection without a request
const std::chrono::seconds LINGER_TIME(1);     // reading what follows a refused request
const std::chrono::seconds HEARTBEAT(15);      // finds streams whose clients have gone
const std::chrono::milliseconds INTERRUPT_POLL(10);
const std::chrono::milliseconds LAST_WORDS(250); // answers still written after Ctrl-C

struct Session {
    explicit Session(tcp::socket socket) : stream(std::move(socket)) {}
    beast::tcp_stream stream;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::response<http::string_body> response;
    bool keep_alive = false;
    bool answering = false; // from a request read to its answer written
    bool lingering = false; // refused mid-request: read on before closing
    bool closed = false;
    // As an event stream:
    bool is_stream = false;
    std::uint64_t after = 0;
    std::string pending; // bytes not yet handed to the socket
    std::string writing; // bytes being written
    bool write_busy = false;
    char scratch[1024]; // what a client sends that nobody reads
};
typedef std::shared_ptr<Session> SessionPtr;

struct Server {
    net::io_context io;
    tcp::acceptor acceptor{io};
    net::steady_timer retry{io}, interrupts{io}, heartbeat{io}, last_words{io};
    std::set<SessionPtr> sessions; // every open connection
    int streams = 0;
    bool stopping = false;
    Access who_may;
};
Server* server;

void await_request(const SessionPtr& s);

void close_session(const SessionPtr& s) {
    if (s->closed)
        return;
    s->closed = true;
    if (s->is_stream)
        --server->streams;
    beast::error_code ignored;
    s->stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    s->stream.close();
    server->sessions.erase(s);
    if (server->stopping && server->sessions.empty())
        server->last_words.cancel();
}

// Reads and drops what the client still sends, for a moment, so that closing
// with unread bytes does not reset the connection before the client has read
// the answer.
void drain(const SessionPtr& s) {
    s->stream.async_read_some(net::buffer(s->scratch), [s](beast::error_code error, std::size_t) {
        if (error)
            return close_session(s);
        drain(s);
    });
}

void write_stream(const SessionPtr& s) {
    if (s->closed || s->write_busy || s->pending.empty())
        return;
    s->writing.swap(s->pending);
    s->pending.clear();
    s->write_busy = true;
    net::async_write(s->stream, net::buffer(s->writing), [s](beast::error_code error, std::size_t) {
        s->write_busy = false;
        if (error)
            return close_session(s);
        write_stream(s);
    });
}

// Each batch of events is one chunk of the chunked answer.
void push_to_stream(const SessionPtr& s, const std::string& text) {
    char size[20];
    std::snprintf(size, sizeof size, "%zx\r\n", text.size());
    s->pending += size;
    s->pending += text;
    s->pending += "\r\n";
    // A client that stops reading never holds up the others or the sender.
    if (s->pending.size() + (s->write_busy ? s->writing.size() : 0) > STREAM_BACKLOG)
        return close_session(s);
    write_stream(s);
}

void send_events(const SessionPtr& s) {
    std::string text;
    events_since(&s->after, &text);
    if (!text.empty())
        push_to_stream(s, text);
}

std::vector<SessionPtr> open_streams() {
    std::vector<SessionPtr> streams;
    for (const SessionPtr& s : server->sessions)
        if (s->is_stream)
            streams.push_back(s);
    return streams;
}

// Called on the thread that published (the sender's).
void events_published() {
    net::post(server->io, [] {
        for (const SessionPtr& s : open_streams())
            send_events(s);
    });
}

// The stream's client sends nothing more; reading finds the moment it goes.
void watch_stream(const SessionPtr& s) {
    s->stream.async_read_some(net::buffer(s->scratch), [s](beast::error_code error, std::size_t) {
        if (error)
            return close_session(s);
        watch_stream(s);
    });
}

void start_stream(const SessionPtr& s, std::uint64_t after) {
    ++server->streams;
    s->is_stream = true;
    s->after = after;
    s->stream.expires_never();
    // What a client has not read waits here, counted, rather than in a
    // socket buffer the system may grow to megabytes.
    beast::error_code ignored;
    s->stream.socket().set_option(net::socket_base::send_buffer_size(64 * 1024), ignored);
    s->pending = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: "
                 "no-store\r\nTransfer-Encoding: chunked\r\n\r\n";
    write_stream(s);
    send_events(s); // what a reconnecting client missed
    watch_stream(s);
}

void give_answer(const SessionPtr& s, Answer answer) {
    if (s->closed)
        return;
    if (answer.stream) {
        if (server->streams < MAX_STREAMS && !server->stopping) {
            s->answering = false;
            return start_stream(s, answer.stream_from);
        }
        // The page and the API answer whatever number of pages are open.
        answer = error_answer(503, "too many event streams: close a page of the remote");
    }
    http::response<http::string_body>& res = s->response;
    res = {};
    res.version(11);
    res.result(static_cast<unsigned>(answer.status));
    res.set(http::field::content_type, answer.type);
    res.set(http::field::cache_control, "no-store");
    for (const auto& header : answer.headers)
        res.set(header.first, header.second);
    res.body() = std::move(answer.body);
    res.keep_alive(s->keep_alive && !s->lingering && !server->stopping);
    res.prepare_payload();
    s->stream.expires_after(REQUEST_TIME);
    http::async_write(s->stream, res, [s](beast::error_code error, std::size_t) {
        s->answering = false;
        if (error || server->stopping)
            return close_session(s);
        if (s->lingering) {
            beast::error_code ignored;
            s->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
            s->stream.expires_after(LINGER_TIME);
            return drain(s);
        }
        if (!s->response.keep_alive())
            return close_session(s);
        await_request(s);
    });
}

void refuse(const SessionPtr& s, int status, const char* message) {
    s->answering = true;
    s->lingering = true;
    give_answer(s, error_answer(status, message));
}

std::string header_value(const http::request<http::string_body>& req, http::field field) {
    return std::string(req[field]);
}

void take_request(const SessionPtr& s) {
    http::request<http::string_body> req = s->parser->release();
    s->keep_alive = req.keep_alive();
    Request request;
    request.method = std::string(req.method_string());
    std::string target(req.target());
    std::size_t question = target.find('?');
    request.path = target.substr(0, question);
    request.query = question == std::string::npos ? "" : target.substr(question + 1);
    request.host = header_value(req, http::field::host);
    request.origin = header_value(req, http::field::origin);
    request.cookie = header_value(req, http::field::cookie);
    request.content_type = header_value(req, http::field::content_type);
    auto last = req.find("Last-Event-ID");
    request.has_last_event_id = last != req.end();
    if (request.has_last_event_id)
        request.last_event_id = std::string(last->value());
    request.body = std::move(req.body());
    s->answering = true;
    s->stream.expires_never(); // a press waits for the frames queued before it
    // The answer may come from the sender's thread: it is written on this one.
    std::weak_ptr<Session> weak = s;
    answer(request, [weak](Answer answer) {
        net::post(server->io, [weak, answer = std::move(answer)]() mutable {
            if (SessionPtr s = weak.lock())
                give_answer(s, std::move(answer));
        });
    });
}

void read_body(const SessionPtr& s) {
    http::async_read(s->stream, s->buffer, *s->parser, [s](beast::error_code error, std::size_t) {
        if (error == http::error::body_limit)
            return refuse(s, 413, "request body larger than 1 MiB");
        if (error || server->stopping)
            return close_session(s);
        take_request(s);
    });
}

void read_request(const SessionPtr& s) {
    s->parser.emplace();
    s->parser->header_limit(HEADER_LIMIT);
    s->parser->body_limit(REMOTE_BODY_LIMIT); // chunked or not
    s->stream.expires_after(REQUEST_TIME);
    http::async_read_header(
        s->stream, s->buffer, *s->parser, [s](beast::error_code error, std::size_t) {
            if (error == http::error::header_limit)
                return refuse(s, 431, "request header larger than 8 KiB");
            if (error == http::error::body_limit) // a Content-Length above it
                return refuse(s, 413, "request body larger than 1 MiB");
            if (error || server->stopping)
                return close_session(s);
            // Clients such as curl wait for this before a large body.
            if (!beast::iequals(s->parser->get()[http::field::expect], "100-continue"))
                return read_body(s);
            static const char go_on[] = "HTTP/1.1 100 Continue\r\n\r\n";
            net::async_write(s->stream, net::buffer(go_on, sizeof go_on - 1),
                             [s](beast::error_code error, std::size_t) {
                                 if (error)
                                     return close_session(s);
                                 read_body(s);
                             });
        });
}

// The time for a request starts with its first byte; before that the
// connection is idle.
void await_request(const SessionPtr& s) {
    if (s->buffer.size() > 0)
        return read_request(s);
    s->stream.expires_after(IDLE_TIME);
    s->stream.async_read_some(s->buffer.prepare(4096), [s](beast::error_code error, std::size_t n) {
        if (error || server->stopping)
            return close_session(s);
        s->buffer.commit(n);
        read_request(s);
    });
}

void accept_next() {
    server->acceptor.async_accept([](beast::error_code error, tcp::socket socket) {
        if (server->stopping)
            return;
        if (error) {
            // Out of file descriptors, say: try again in a moment.
            server->retry.expires_after(std::chrono::milliseconds(50));
            server->retry.async_wait([](beast::error_code) {
                if (!server->stopping)
                    accept_next();
            });
            return;
        }
        if (server->sessions.size() >= MAX_CONNECTIONS) {
            beast::error_code ignored;
            socket.close(ignored);
        } else {
            SessionPtr s = std::make_shared<Session>(std::move(socket));
            server->sessions.insert(s);
            await_request(s);
        }
        accept_next();
    });
}

void beat() {
    server->heartbeat.expires_after(HEARTBEAT);
    server->heartbeat.async_wait([](beast::error_code error) {
        if (error || server->stopping)
            return;
        for (const SessionPtr& s : open_streams())
            push_to_stream(s, ": still here\n\n");
        beat();
    });
}

// Ctrl-C: no more requests; the sender quits first, so that queued presses
// are answered 503 and never sent; then every connection closes.
void stop_serving() {
    server->stopping = true;
    beast::error_code ignored;
    server->acceptor.close(ignored);
    server->retry.cancel();
    server->heartbeat.cancel();
    sender_quit();
    std::vector<SessionPtr> all(server->sessions.begin(), server->sessions.end());
    for (const SessionPtr& s : all)
        if (!s->answering)
            close_session(s);
    if (server->sessions.empty())
        return;
    server->last_words.expires_after(LAST_WORDS);
    server->last_words.async_wait([](beast::error_code) {
        std::vector<SessionPtr> left(server->sessions.begin(), server->sessions.end());
        for (const SessionPtr& s : left)
            close_session(s);
    });
}

void watch_interrupts() {
    server->interrupts.expires_after(INTERRUPT_POLL);
    server->interrupts.async_wait([](beast::error_code error) {
        if (error)
            return;
        if (plat_interrupted())
            return stop_serving();
        watch_interrupts();
    });
}

// "[ADDRESS:]PORT"; ADDRESS may be an IPv6 address in brackets.
bool parse_listen(const std::string& listen, std::string* address, int* port) {
    std::size_t colon = listen.rfind(':');
    std::string digits = colon == std::string::npos ? listen : listen.substr(colon + 1);
    *address = colon == std::string::npos ? "127.0.0.1" : listen.substr(0, colon);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos || address->empty())
        return false;
    *port = std::atoi(digits.c_str());
    if (address->front() == '[' && address->back() == ']')
        *address = address->substr(1, address->size() - 2);
    return *port <= 65535 && address->find_first_of("[]") == std::string::npos;
}

bool listen_spec_ok(const char* listen, std::string* address, int* port) {
    if (parse_listen(listen, address, port))
        return true;
    std::printf("tarvik: cannot listen on %s: expected [ADDRESS:]PORT\n", listen);
    return false;
}

bool start_listening(const std::string& address, int port) {
    beast::error_code error;
    tcp::resolver resolver(server->io);
    auto found = resolver.resolve(address, std::to_string(port), tcp::resolver::passive, error);
    if (error || found.empty())
        return false;
    tcp::endpoint endpoint = found.begin()->endpoint();
    tcp::acceptor& acceptor = server->acceptor;
    acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
    // A restart may take the port its predecessor's closed connections still
    // name (on Windows this option would let another program take it over).
    if (!error)
        acceptor.set_option(tcp::acceptor::reuse_address(true), error);
#endif
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error)
        return false;
    server->who_may.port = acceptor.local_endpoint(error).port();
    server->who_may.loopback = endpoint.address().is_loopback();
    server->who_may.key = server->who_may.loopback ? "" : make_key();
    return !error;
}

} // namespace

int serve_remote(const RunSettings& settings) {
    std::string address;
    int wanted = 0;
    if (!listen_spec_ok(settings.listen, &address, &wanted))
        return 1; // before the port is opened: nothing has been sent
    // Every connection, and a few files besides.
    plat_allow_open_files(MAX_CONNECTIONS + 64);
    Port port;
    int status = 0;
    if (!begin_run(settings, &port, &status))
        return status != 0 ? status : end_run(&port, status);
    // A server's memory comes and goes with its clients: locking all of it
    // would soon meet the system's limit (8 MiB for users by default).
    plat_lock_present_memory();
    Server serving;
    server = &serving;
    if (!start_listening(address, wanted)) {
        std::printf("tarvik: cannot listen on %s: the port is taken, or the address is not "
                    "this machine's\n",
                    settings.listen);
        server = nullptr;
        return end_run(&port, 1);
    }
    std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    std::string url = "http://" + host + ":" + std::to_string(serving.who_may.port) + "/";
    if (!serving.who_may.key.empty())
        url += "?key=" + serving.who_may.key;

    api_setup(&serving.who_may, settings.model);
    events_open(events_published);
    sender_start(&port);
    // The first line on standard output, flushed at once: whoever started the
    // program may read this line alone. The network's lines follow; nothing
    // after them.
    std::printf("tarvik: remote control at %s\n", url.c_str());
    std::fflush(stdout);
    announce_network(address, serving.who_may.port, serving.who_may.key);
    std::fflush(stdout);
    accept_next();
    beat();
    watch_interrupts();
    serving.io.run();

    // The sockets go before the io_context, the port after the sender.
    sender_finish();
    serving.io.restart();
    serving.io.run(); // what the sender posted last
    serving.sessions.clear();
    server = nullptr;
    return end_run(&port, 0);
}
