#include "events.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// Enough for a client that reconnects after a second or two of a busy script.
const std::size_t EVENTS_KEPT = 512;

std::mutex mutex;
std::condition_variable arrived;
std::deque<std::string> kept; // the latest events, the last one numbered latest
std::uint64_t latest;
bool closed;

} // namespace

void events_open() {
    std::lock_guard<std::mutex> lock(mutex);
    kept.clear();
    latest = 0;
    closed = false;
}

void events_publish(const std::string& json) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        kept.push_back(json);
        if (kept.size() > EVENTS_KEPT)
            kept.pop_front();
        ++latest;
    }
    arrived.notify_all();
}

bool events_wait(std::uint64_t* after, std::string* out, unsigned timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                     [after] { return closed || latest > *after; });
    if (closed)
        return false;
    if (*after > latest) // numbered by an earlier run of the server
        *after = latest;
    std::uint64_t first = latest - kept.size() + 1;
    for (std::uint64_t id = *after + 1 > first ? *after + 1 : first; id <= latest; ++id)
        *out += "id: " + std::to_string(id) + "\ndata: " + kept[id - first] + "\n\n";
    *after = latest;
    return true;
}

std::uint64_t events_latest() {
    std::lock_guard<std::mutex> lock(mutex);
    return latest;
}

void events_close() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    arrived.notify_all();
}
