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

struct Job {
    bool frame;       // else a script
    std::string name; // or the script's text
    command_code code;
    RobotModel model;
    SendDone done; // a frame's
};

std::mutex mutex;
std::condition_variable wake;  // a job arrived, or the end
std::condition_variable taken; // the thread has its realtime route
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
        {"code", static_cast<std::uint32_t>(code)}, // as /api/send answers it
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
    taken.notify_all();
    for (;;) {
        wake.wait(lock, [] { return quitting || !jobs.empty(); });
        if (quitting)
            break;
        Job job = std::move(jobs.front());
        jobs.pop_front();
        lock.unlock();
        if (!job.frame) {
            play(job);
        } else {
            bool disturbed = false;
            SendOutcome outcome = SEND_DONE;
            if (send_command(sender_port, job.name.c_str(), job.code, job.model, &disturbed) != 0)
                outcome = SEND_PORT_FAILED;
            else
                publish_frame(0, job.name.c_str(), job.code, job.model, disturbed);
            job.done(outcome);
        }
        lock.lock();
    }
}

} // namespace

int frame_bits(RobotModel model) {
    return model == MODEL_V1 ? 8 : 12;
}

void sender_start(Port* port) {
    keep_frames_off_stdout();
    sender_port = port;
    started = plat_counter();
    jobs.clear();
    script_busy = false;
    quitting = false;
    stop_script = false;
    realtime_taken = false;
    thread = std::thread(sender_loop);
    std::unique_lock<std::mutex> lock(mutex);
    taken.wait(lock, [] { return realtime_taken; });
}

std::string sender_realtime() {
    std::lock_guard<std::mutex> lock(mutex);
    return realtime;
}

void sender_quit() {
    std::deque<Job> left;
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
        left.swap(jobs);
    }
    stop_script = true;
    wake.notify_all();
    for (Job& job : left)
        if (job.frame)
            job.done(SEND_STOPPING);
}

void sender_finish() {
    thread.join();
}

void sender_send(const std::string& name, command_code code, RobotModel model,
                 const SendDone& done) {
    SendOutcome refused;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!quitting && !script_busy) {
            jobs.push_back(Job{true, name, code, model, done});
            wake.notify_all();
            return;
        }
        refused = quitting ? SEND_STOPPING : SEND_BUSY;
    }
    done(refused);
}

SendOutcome sender_play(const std::string& text, RobotModel model) {
    std::lock_guard<std::mutex> lock(mutex);
    if (quitting)
        return SEND_STOPPING;
    if (script_busy)
        return SEND_BUSY;
    script_busy = true;
    stop_script = false;
    jobs.push_back(Job{false, text, 0, model, nullptr});
    wake.notify_all();
    return SEND_DONE;
}

bool sender_stop_script() {
    std::lock_guard<std::mutex> lock(mutex);
    if (script_busy)
        stop_script = true;
    return script_busy;
}
