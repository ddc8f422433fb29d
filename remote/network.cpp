#include "network.h"

#include "../platform/network.h"
#include "qr.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <mutex>

namespace {

std::mutex mutex;
std::string phone_url; // the first address's, "" when there is none

std::string url_of(const std::string& address, int port, const std::string& key) {
    std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    return "http://" + host + ":" + std::to_string(port) + "/?key=" + key;
}

} // namespace

void announce_network(const std::string& listen, int port, const std::string& key) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        phone_url.clear();
    }
    if (key.empty())
        return; // loopback only: no other machine can reach it
    std::string addresses;
    if (listen == "0.0.0.0" || listen == "::") {
        char list[4096];
        plat_network_addresses(listen == "::", list, sizeof list);
        addresses = list;
    } else {
        addresses = listen + "\n"; // the one address that serves
    }
    std::string first = addresses.substr(0, addresses.find('\n'));
    if (!first.empty())
        first = url_of(first, port, key);
    {
        // Ready for the page before anyone reads the lines.
        std::lock_guard<std::mutex> lock(mutex);
        phone_url = first;
    }
    for (std::size_t at = 0, end; (end = addresses.find('\n', at)) != std::string::npos;
         at = end + 1)
        std::printf("tarvik: on this network: %s\n",
                    url_of(addresses.substr(at, end - at), port, key).c_str());
    std::string drawing;
    if (!first.empty() && plat_stdout_terminal() && qr_terminal_text(first, &drawing))
        std::fputs(drawing.c_str(), stdout);
    std::fflush(stdout);
}

int phone_qr_answer(std::string* body, std::string* type) {
    std::string url;
    {
        std::lock_guard<std::mutex> lock(mutex);
        url = phone_url;
    }
    std::string svg;
    if (!url.empty() && qr_svg(url, &svg)) {
        *body = svg;
        *type = "image/svg+xml";
        return 200;
    }
    *type = "application/json";
    *body = nlohmann::json{{"error", url.empty() ? "listening on this machine only: start it "
                                                   "with -serve 0.0.0.0:PORT for a phone"
                                                 : "built without QR codes (libqrencode)"}}
                .dump();
    return 404;
}
