#include "fake_platform.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

// Settings ("_at"/"_from": the n-th call; "rtkit": 0 absent, 1 granting, 2 refusing).
// clang-format off
const std::map<std::string, std::int64_t> DEFAULTS = {
    {"has_counter", 1}, {"change_ticks", 0}, {"open_fails", 0}, {"name_limit", 4096}, {"port_is_char", 1},
    {"port_device", 0x440}, {"port_in_use", 0}, {"port_is_tty", 1}, {"process_error", 0}, {"thread_error", 0},
    {"tick_start_fails", 0}, {"ticks_stop_at", 0}, {"caps_fail", 0}, {"min_period_ms", 1}, {"break_error", 0},
    {"break_fails_from", 0}, {"interrupt_at_sleep", 0}, {"sleep_ticks", 0}, {"pulse_device", 0}, {"pulse_error", 0},
    {"pause_at_change", 0}, {"pause_ticks", 0}, {"privileged", 1}, {"rtprio_limit", 0}, {"bus", 1}, {"rtkit", 0},
    {"rtkit_max", 20}};
const std::int64_t FREQUENCY = 10000000, PERIOD = FREQUENCY / 1000; // of the counter, of the tick timer
// Errors: opening refused, busy, a vanished device, a name too long.
const int FAKE_DENIED = 13, FAKE_BUSY = 16, FAKE_GONE = 5, FAKE_TOO_LONG = 36;

enum Kind { WORD, SLEEP, TICK_WAIT, CHANGE_ON, CHANGE_OFF };
// time: the counter at the call, ms for a sleep; printed: bytes on standard output so far.
struct Event { Kind kind; std::string word; std::int64_t time; long printed; };
// clang-format on

struct Fake {
    std::map<std::string, std::int64_t> config = DEFAULTS;
    std::string console_names;
    std::map<std::string, std::uint64_t> devices; // device numbers by path
    std::set<std::string> special;
    std::int64_t now = 1000000, tick_origin = 0, ticks_consumed = 0;
    std::vector<Event> events;
    std::map<PlatHandle, std::string> file_names; // handles of files, ports not
    std::map<std::string, std::string> files;
    std::set<PlatHandle> claimed_files;
    PlatHandle next_handle = 3;
    int changes = 0, tick_waits = 0, sleeps = 0, interrupted = 0;
    bool realtime_kept = false;
} fake;

std::int64_t cfg(const char* key) {
    return fake.config.at(key);
}

void log(Kind kind, const std::string& word = "", std::int64_t time = fake.now) {
    std::fflush(stdout); // so that the trace shows what was printed between calls
    fake.events.push_back(Event{kind, word, time, static_cast<long>(lseek(1, 0, SEEK_CUR))});
}

LineResult line_change(bool on, int* error) {
    log(on ? CHANGE_ON : CHANGE_OFF);
    fake.now +=
        cfg("change_ticks") + (++fake.changes == cfg("pause_at_change") ? cfg("pause_ticks") : 0);
    if (!cfg("break_error") || fake.changes < cfg("break_fails_from"))
        return LINE_DONE;
    *error = static_cast<int>(cfg("break_error"));
    return *error == FAKE_GONE ? LINE_GONE : LINE_REFUSED;
}

// A frame's bits from its pulse lengths in units, lead-in first; "" for no frame.
std::string frame_word(const std::vector<double>& units, double tolerance) {
    auto off = [&](double u, double want) { return std::fabs(u - want) > tolerance; };
    int bits = static_cast<int>(units.size() / 2);
    if ((bits != 8 && bits != 12) || units.size() % 2 != 1 || off(units[0], 8))
        return "";
    unsigned code = 0;
    for (int i = 0; i < bits; ++i) {
        double gap = units[1 + 2 * i];
        if (off(units[2 + 2 * i], 1) || (off(gap, 1) && off(gap, 4)))
            return "";
        code = code << 1 | (gap > 2 ? 1u : 0u);
    }
    char word[16];
    std::snprintf(word, sizeof word, "%x/%d", code, bits);
    return word;
}

// One frame's line changes (events[from, to), tick waits among them).
std::string line_word(std::size_t from, std::size_t to) {
    std::vector<const Event*> changes;
    for (std::size_t i = from; i < to; ++i)
        if (fake.events[i].kind != TICK_WAIT)
            changes.push_back(&fake.events[i]);
    const double unit = FREQUENCY / 1200.0;
    std::vector<double> units;
    std::string raw;
    bool alternating = true;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        alternating = alternating && (changes[i]->kind == CHANGE_ON) == (i % 2 == 0);
        raw += std::string(i ? " " : "") + (changes[i]->kind == CHANGE_ON ? "on" : "off");
        if (i + 1 == changes.size())
            break;
        std::int64_t ticks = changes[i + 1]->time - changes[i]->time;
        raw += " " + std::to_string(ticks);
        // The frame is anchored at the first reading after its first change.
        units.push_back(static_cast<double>(i ? ticks : ticks - cfg("change_ticks") - 1) / unit);
    }
    std::string word;
    if (alternating && changes.back()->kind == CHANGE_OFF &&
        (word = frame_word(units, 1 / unit)).empty() && !(word = frame_word(units, 0.25)).empty())
        word = "~" + word;
    return word.empty() ? raw : word;
}

} // namespace

void fake_reset(const std::string& config) {
    fake = Fake();
    std::istringstream in(config);
    for (std::string item; in >> item;) {
        std::string key = item.substr(0, item.find('=')), value = item.substr(key.size() + 1);
        if (key == "device") // PATH:NUMBER
            fake.devices[value.substr(0, value.find(':'))] =
                std::strtoull(&value[value.find(':') + 1], nullptr, 0);
        else if (key == "console_names")
            for (char& c : (fake.console_names = value))
                c = c == ',' ? ' ' : c;
        else if (key == "special")
            fake.special.insert(value);
        else if (DEFAULTS.count(key))
            fake.config[key] = std::strtoll(value.c_str(), nullptr, 0);
        else
            std::abort(); // a misspelt setting would silently test nothing
    }
}

std::string fake_trace() {
    std::string out;
    auto add = [&](const std::string& word) { out += (out.empty() ? "" : " ") + word; };
    const std::vector<Event>& ev = fake.events;
    long printed = ev.empty() ? 0 : ev[0].printed;
    for (std::size_t i = 0, end; i < ev.size(); i = end) {
        const Event& e = ev[i];
        if (e.printed != printed)
            add("msg");
        printed = e.printed;
        end = i + 1;
        if (e.kind == SLEEP || e.kind == TICK_WAIT) { // summed while nothing is printed
            std::int64_t total = e.kind == SLEEP ? e.time : 1;
            for (; end < ev.size() && ev[end].kind == e.kind && ev[end].printed == printed; ++end)
                total += e.kind == SLEEP ? ev[end].time : 1;
            add((e.kind == SLEEP ? "s" : "t") + std::to_string(total));
        } else if (e.kind >= CHANGE_ON) { // a frame, and the tick waits after it
            int ticks = 0;
            for (; end < ev.size() && ev[end].kind >= TICK_WAIT; ++end)
                ticks += ev[end].kind == TICK_WAIT;
            add(line_word(i, end) + (ticks ? " t" + std::to_string(ticks) : ""));
        } else {
            add(e.word);
        }
    }
    return out;
}

// clang-format off
void fake_advance(std::int64_t ticks) { fake.now += ticks; }
std::string fake_file(const std::string& name) { return fake.files[name]; }

// The platform, one answer a line.
bool plat_counter_frequency(std::int64_t* frequency) { *frequency = FREQUENCY; return cfg("has_counter"); }
std::int64_t plat_counter() { return ++fake.now; }
void plat_port_path(const char* name, char* path, std::size_t size) { std::snprintf(path, size, "%s", name); }
bool plat_port_device(PlatHandle, bool* character, std::uint64_t* device) { *character = cfg("port_is_char"); *device = cfg("port_device"); return true; }
std::size_t plat_list_ports(const char*, char* out, std::size_t size) { return std::snprintf(out, size, "/dev/ttyS0 (COM1)\n"); }
int plat_claim_port(PlatHandle) { log(WORD, "claim"); return cfg("port_in_use") ? FAKE_BUSY : 0; }
bool plat_error_in_use(int error) { return error == FAKE_BUSY; }
void plat_release_port(PlatHandle) { log(WORD, "release"); }
bool plat_close_port(PlatHandle port) { log(WORD, "close"); fake.claimed_files.erase(port); return true; }
bool plat_write_byte(PlatHandle, unsigned char byte) { log(WORD, "w" + std::to_string(byte)); return true; }
LineResult plat_break_on(PlatHandle, int* error) { return line_change(true, error); }
LineResult plat_break_off(PlatHandle, int* error) { return line_change(false, error); }
bool plat_is_serial_line(PlatHandle) { return cfg("port_is_tty") && !cfg("pulse_device"); } // a transmitter is no terminal
bool plat_pulse_transmitter(PlatHandle) { return cfg("pulse_device"); }
void plat_error_text(int error, char* text, std::size_t size) { std::snprintf(text, size, "error %d", error); }
int plat_check_name(const char* name) { return std::string(name).size() < static_cast<std::size_t>(cfg("name_limit")) ? 0 : FAKE_TOO_LONG; }
int plat_truncate_file(PlatHandle file) { fake.files[fake.file_names[file]].clear(); return 0; }
void plat_catch_interrupts() {}
int plat_interrupted() { return fake.interrupted; }
void plat_lock_memory() { log(WORD, "lock"); }
void plat_lock_present_memory() {}
void plat_allow_open_files(unsigned) {}
bool plat_raise_process_priority(long* error) { log(WORD, "P"); *error = cfg("process_error"); return fake.realtime_kept || !*error; }
bool plat_realtime_allowed(int priority) { return !cfg("thread_error") && (cfg("privileged") || priority <= cfg("rtprio_limit")); }
int plat_realtime_limit() { return static_cast<int>(cfg("rtprio_limit")); }
void plat_keep_realtime() { fake.realtime_kept = true; }
void plat_rest_before_frame() { log(WORD, "rest"); }
bool plat_leave_frame_priority() { log(WORD, "N"); return true; }
void plat_pin_thread(PlatCpuSet* saved) { saved->pinned = false; }
void plat_unpin_thread(const PlatCpuSet*) {}
bool plat_timer_min_period_ms(unsigned* ms) { *ms = static_cast<unsigned>(cfg("min_period_ms")); return !cfg("caps_fail"); }
void plat_tick_timer_stop(std::intptr_t, std::intptr_t) { log(WORD, "tick-"); }
PlatHandle plat_open_port(const char* name, int* error) { log(WORD, std::string("open ") + name); *error = FAKE_DENIED; return cfg("open_fails") ? PLAT_INVALID_HANDLE : fake.next_handle++; }
bool plat_path_device(const char* path, std::uint64_t* device) { return fake.devices.count(path) && (*device = fake.devices[path], true); }
bool plat_console_names(char* names, std::size_t size) { std::snprintf(names, size, "%s", fake.console_names.c_str()); return !fake.console_names.empty(); }
bool plat_write_file(PlatHandle file, const char* data, std::size_t length) { log(WORD, "write"); fake.files[fake.file_names[file]].append(data, length); return true; }
bool plat_raise_thread_priority(int priority, long* error) { log(WORD, "T"); *error = cfg("thread_error") ? cfg("thread_error") : 1; return fake.realtime_kept || plat_realtime_allowed(priority); }
RtkitAnswer plat_rtkit_max_priority(int* max) { *max = cfg("rtkit_max"); return !cfg("bus") ? RTKIT_NO_BUS : cfg("rtkit") ? RTKIT_OK : RTKIT_ABSENT; }
// clang-format on

int plat_write_pulses(PlatHandle, const std::uint32_t* us, int count) {
    std::vector<double> units(us, us + count);
    for (double& u : units)
        u *= 1200e-6;
    std::string word = frame_word(units, 0.01);
    log(WORD, "pulses " + (word.empty() ? "?" : word));
    return static_cast<int>(cfg("pulse_error"));
}

PlatHandle plat_open_file(const char* name, bool* regular, int* error) {
    *regular = fake.special.count(name) == 0;
    *error = FAKE_DENIED;
    if (!*regular || cfg("open_fails"))
        return PLAT_INVALID_HANDLE;
    fake.files[fake.file_names[fake.next_handle] = name];
    return fake.next_handle++;
}

// A file is one handle's at a time, until that handle is closed.
int plat_claim_file(PlatHandle file) {
    for (PlatHandle other : fake.claimed_files)
        if (fake.file_names[other] == fake.file_names[file])
            return FAKE_BUSY;
    fake.claimed_files.insert(file);
    return 0;
}

void plat_sleep_ms(unsigned ms) {
    log(SLEEP, "", ms);
    fake.now += cfg("sleep_ticks") ? cfg("sleep_ticks") : std::int64_t{ms} * FREQUENCY / 1000;
    if (++fake.sleeps == cfg("interrupt_at_sleep"))
        fake.interrupted = 130;
}

// Like the service, refuses more than its highest priority.
RtkitAnswer plat_rtkit_make_realtime(int priority) {
    log(WORD, "rtkit" + std::to_string(priority));
    int max;
    RtkitAnswer there = plat_rtkit_max_priority(&max);
    return there != RTKIT_OK || (cfg("rtkit") == 1 && priority <= max) ? there : RTKIT_REFUSED;
}

bool plat_tick_timer_start(std::intptr_t* event, std::intptr_t* timer) {
    log(WORD, "tick+");
    if (cfg("tick_start_fails"))
        return false;
    fake.tick_origin = fake.now;
    fake.ticks_consumed = 0;
    *event = 7;
    *timer = 9;
    return true;
}

// Ticks every millisecond from the start; a wait takes every tick so far, or waits for the next.
bool plat_tick_wait(std::intptr_t, unsigned timeout_ms) {
    log(TICK_WAIT);
    if (cfg("ticks_stop_at") && ++fake.tick_waits >= cfg("ticks_stop_at")) {
        fake.now += timeout_ms * PERIOD;
        return false;
    }
    std::int64_t ticks = (fake.now - fake.tick_origin) / PERIOD;
    fake.ticks_consumed = ticks > fake.ticks_consumed ? ticks : fake.ticks_consumed + 1;
    if (ticks < fake.ticks_consumed)
        fake.now = fake.tick_origin + fake.ticks_consumed * PERIOD;
    return true;
}
