#include "remote.h"

#include "api.h"
#include "events.h"
#include "network.h"
#include "sender.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

httplib::Server* server;
std::thread server_thread;
Access who_may;
std::string url;

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

} // namespace

int remote_start(Port* port, const char* listen, RobotModel model) {
    std::string address;
    int wanted = 0;
    if (!listen_spec_ok(listen, &address, &wanted))
        return -1;
    who_may.loopback =
        address == "localhost" || address == "::1" || address.compare(0, 4, "127.") == 0;
    who_may.key = who_may.loopback ? "" : make_key();

    server = new httplib::Server;
    // A few event streams (pages left open) must not take every thread.
    server->new_task_queue = [] { return new httplib::ThreadPool(16); };
    server->set_keep_alive_timeout(1); // so that stopping never waits long for idle clients
    install_routes(server, &who_may, model);
    who_may.port = wanted == 0 ? server->bind_to_any_port(address) : wanted;
    if (who_may.port < 0 || (wanted != 0 && !server->bind_to_port(address, wanted))) {
        std::printf("tarvik: cannot listen on %s: the port is taken, or the address is not "
                    "this machine's\n",
                    listen);
        delete server;
        server = nullptr;
        return -1;
    }
    std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    url = "http://" + host + ":" + std::to_string(who_may.port) + "/";
    if (!who_may.key.empty())
        url += "?key=" + who_may.key;

    events_open();
    sender_start(port);
    server_thread = std::thread([] { server->listen_after_bind(); });
    // Stopping a server that does not run yet does nothing: wait until it
    // runs, so that an early Ctrl-C cannot leave it running.
    while (!server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return who_may.port;
}

std::string remote_url() {
    return url;
}

void remote_stop() {
    events_close(); // ends the event streams, so that the server's threads can end
    server->stop();
    server_thread.join();
    sender_finish();
    delete server;
    server = nullptr;
}

int serve_remote(const RunSettings& settings) {
    std::string address;
    int wanted = 0;
    if (!listen_spec_ok(settings.listen, &address, &wanted))
        return 1; // before the port is opened: nothing has been sent
    Port port;
    int status = 0;
    if (!begin_run(settings, &port, &status))
        return status != 0 ? status : end_run(&port, status);
    if (remote_start(&port, settings.listen, settings.model) < 0)
        return end_run(&port, 1);
    std::printf("tarvik: remote control at %s\n", url.c_str());
    announce_network(address, who_may.port, who_may.key);
    std::fflush(stdout);
    while (!plat_interrupted())
        plat_sleep_ms(200);
    remote_stop();
    return end_run(&port, 0);
}
