#include "sender.h"

#include "../core/timing.h"
#include "../player/realtime.h"
#include "../player/script.h"
#include "../player/send.h"
#include "events.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

using json = nlohmann::ordered_json;

namespace {

// Where the request that asked for a frame waits for its outcome.
struct FrameWait {
    bool done;
    SendOutcome outcome;
};

struct Job {
    FrameWait* wait;  // null for a script
    std::string name; // or the script's text
    command_code code;
    RobotModel model;
};

std::mutex mutex;
std::condition_variable wake;     // a job arrived, or the end
std::condition_variable finished; // a frame job is done
std::deque<Job> jobs;
bool script_busy; // a script is queued or playing
bool quitting;
std::atomic<bool> stop_script;
std::thread thread;
Port* sender_port;
std::int64_t started;
std::string realtime; // the sender thread's route, as -v tells it
bool realtime_taken;

// A script's names are cut at 49 bytes, possibly inside a UTF-8 character:
// such bytes are replaced, not taken for an error.
void publish(const json& event) {
    events_publish(event.dump(-1, ' ', false, json::error_handler_t::replace));
}

double seconds_since_start() {
    return static_cast<double>(plat_counter() - started) / static_cast<double>(timing.frequency);
}

void publish_frame(int line, const char* name, command_code code, RobotModel model,
                   bool disturbed) {
    json event = {
        {"type", "frame"},
        {"time",
         static_cast<double>(static_cast<std::int64_t>(seconds_since_start() * 1000)) / 1000},
        {"name", name},
        {"code", code},
        {"bits", frame_bits(model)},
        {"disturbed", disturbed}};
    if (line > 0)
        event["line"] = line;
    publish(event);
}

struct ScriptPlay {
    RobotModel model;
    int lines;
};

bool watch_stop(void*) {
    return stop_script.load();
}
void watch_line(void* context, int line) {
    publish(json{
        {"type", "progress"}, {"line", line}, {"lines", static_cast<ScriptPlay*>(context)->lines}});
}
void watch_sent(void* context, int line, const char* name, command_code code, bool disturbed) {
    publish_frame(line, name, code, static_cast<ScriptPlay*>(context)->model, disturbed);
}
void watch_unknown(void*, int line, const char* name) {
    publish(json{{"type", "unknown"}, {"line", line}, {"name", name}});
}

int count_lines(const std::string& text) {
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines + (!text.empty() && text.back() != '\n');
}

void play(const Job& job) {
    ScriptPlay play = {job.model, count_lines(job.name)};
    ScriptWatch watch = {&play, watch_stop, watch_line, watch_sent, watch_unknown};
    publish(json{{"type", "script"}, {"state", "playing"}, {"lines", play.lines}});
    int status = play_script_text(sender_port, job.name.data(), job.name.size(), job.model, &watch);
    const char* state = status != 0 ? "failed" : stop_script.load() ? "stopped" : "ended";
    {
        // Free for the next press before anyone hears that the script is over.
        std::lock_guard<std::mutex> lock(mutex);
        script_busy = false;
    }
    publish(json{{"type", "script"}, {"state", state}, {"lines", play.lines}});
}

void sender_loop() {
    char route[64];
    describe_realtime(take_realtime(sender_port, describing_frames()), route, sizeof route);
    std::unique_lock<std::mutex> lock(mutex);
    realtime = route;
    realtime_taken = true;
    finished.notify_all();
    for (;;) {
        wake.wait(lock, [] { return quitting || !jobs.empty(); });
        if (quitting)
            break;
        Job job = jobs.front();
        jobs.pop_front();
        lock.unlock();
        SendOutcome outcome = SEND_DONE;
        if (!job.wait) {
            play(job);
        } else {
            bool disturbed = false;
            if (send_command(sender_port, job.name.c_str(), job.code, job.model, &disturbed) != 0)
                outcome = SEND_PORT_FAILED;
            else
                publish_frame(0, job.name.c_str(), job.code, job.model, disturbed);
        }
        lock.lock();
        if (job.wait) {
            *job.wait = FrameWait{true, outcome};
            finished.notify_all();
        }
    }
    // Frames still waiting never go out; their requests hear so.
    for (Job& job : jobs)
        if (job.wait)
            *job.wait = FrameWait{true, SEND_STOPPING};
    jobs.clear();
    finished.notify_all();
}

} // namespace

int frame_bits(RobotModel model) {
    return model == MODEL_V1 ? 8 : 12;
}

void sender_start(Port* port) {
    sender_port = port;
    started = plat_counter();
    jobs.clear();
    script_busy = false;
    quitting = false;
    stop_script = false;
    realtime_taken = false;
    thread = std::thread(sender_loop);
    std::unique_lock<std::mutex> lock(mutex);
    finished.wait(lock, [] { return realtime_taken; });
}

std::string sender_realtime() {
    std::lock_guard<std::mutex> lock(mutex);
    return realtime;
}

void sender_finish() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
    }
    stop_script = true;
    wake.notify_all();
    thread.join();
}

SendOutcome sender_send(const std::string& name, command_code code, RobotModel model) {
    std::unique_lock<std::mutex> lock(mutex);
    if (quitting)
        return SEND_STOPPING;
    if (script_busy)
        return SEND_BUSY;
    // The sender answers every frame it takes, even when it quits.
    FrameWait wait = {false, SEND_STOPPING};
    jobs.push_back(Job{&wait, name, code, model});
    wake.notify_all();
    finished.wait(lock, [&wait] { return wait.done; });
    return wait.outcome;
}

SendOutcome sender_play(const std::string& text, RobotModel model) {
    std::lock_guard<std::mutex> lock(mutex);
    if (quitting)
        return SEND_STOPPING;
    if (script_busy)
        return SEND_BUSY;
    script_busy = true;
    stop_script = false;
    jobs.push_back(Job{nullptr, text, 0, model});
    wake.notify_all();
    return SEND_DONE;
}

bool sender_stop_script() {
    std::lock_guard<std::mutex> lock(mutex);
    if (script_busy)
        stop_script = true;
    return script_busy;
}
