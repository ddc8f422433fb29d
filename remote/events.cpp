#include "events.h"

#include <cstdlib>
#include <deque>
#include <mutex>

namespace {

// Enough for a client that reconnects after a second or two of a busy script.
const std::size_t EVENTS_KEPT = 512;

std::mutex mutex;
std::deque<std::string> kept; // the latest events, the last one numbered latest
std::uint64_t latest;
void (*on_published)();

} // namespace

void events_open(void (*published)()) {
    std::lock_guard<std::mutex> lock(mutex);
    kept.clear();
    latest = 0;
    on_published = published;
}

void events_publish(const std::string& json) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        kept.push_back(json);
        if (kept.size() > EVENTS_KEPT)
            kept.pop_front();
        ++latest;
    }
    on_published();
}

std::uint64_t events_start(const std::string* last_event_id) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!last_event_id || last_event_id->empty() || last_event_id->size() > 19 ||
        last_event_id->find_first_not_of("0123456789") != std::string::npos)
        return latest;
    std::uint64_t seen = std::strtoull(last_event_id->c_str(), nullptr, 10);
    return seen > latest ? latest : seen;
}

void events_since(std::uint64_t* after, std::string* out) {
    std::lock_guard<std::mutex> lock(mutex);
    std::uint64_t first = latest - kept.size() + 1;
    for (std::uint64_t id = *after + 1 > first ? *after + 1 : first; id <= latest; ++id)
        *out += "id: " + std::to_string(id) + "\ndata: " + kept[id - first] + "\n\n";
    *after = latest;
}
