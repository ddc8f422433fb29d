#include "fake_platform.h"

#include <cstdio>
#include <unistd.h>

namespace {

const PlatHandle FAKE_PORT = 3;
const PlatHandle FIRST_FILE = 100;

struct Fake {
    FakeConfig config;
    std::int64_t now = 0;
    std::vector<FakeCall> calls;
    std::map<PlatHandle, std::string> file_names;
    std::map<std::string, std::string> files;
    PlatHandle next_file = FIRST_FILE;
    std::int64_t tick_origin = 0;
    std::int64_t ticks_consumed = 0;
    int line_changes = 0;
    int tick_waits = 0;
    int sleeps = 0;
    int interrupted = 0;
} fake;

void log(FakeOp op, std::int64_t value = 0, const std::string& text = std::string()) {
    // Where output stands, so tests can tell what was printed between calls.
    std::fflush(stdout);
    long printed = static_cast<long>(lseek(1, 0, SEEK_CUR));
    fake.calls.push_back(FakeCall{op, fake.now, value, text, printed});
}

std::int64_t tick_period() {
    return fake.config.frequency / 1000;
}

LineResult line_change(FakeOp op, int* error) {
    log(op);
    ++fake.line_changes;
    if (!fake.config.break_error || fake.line_changes < fake.config.break_fails_from)
        return LINE_DONE;
    *error = fake.config.break_error;
    return *error == fake.config.gone_error ? LINE_GONE : LINE_REFUSED;
}

const int FAKE_BUSY = 16;

} // namespace

void fake_reset(const FakeConfig& config) {
    fake = Fake();
    fake.config = config;
    fake.now = config.start;
}

Port* fake_serial_port() {
    static Port port;
    port.kind = PORT_SERIAL_LINE;
    port.handle = FAKE_PORT;
    return &port;
}

const std::vector<FakeCall>& fake_calls() {
    return fake.calls;
}

std::vector<FakeCall> fake_calls_of(FakeOp op) {
    std::vector<FakeCall> out;
    for (const FakeCall& c : fake.calls)
        if (c.op == op)
            out.push_back(c);
    return out;
}

std::int64_t fake_now() {
    return fake.now;
}
void fake_advance(std::int64_t ticks) {
    fake.now += ticks;
}

std::string fake_file(const std::string& name) {
    return fake.files[name];
}

std::vector<std::pair<std::int64_t, bool>> fake_line_changes() {
    std::vector<std::pair<std::int64_t, bool>> out;
    for (const FakeCall& c : fake.calls)
        if (c.op == OP_BREAK_ON || c.op == OP_BREAK_OFF)
            out.push_back({c.time, c.op == OP_BREAK_ON});
    return out;
}

bool plat_counter_frequency(std::int64_t* frequency) {
    if (!fake.config.has_counter)
        return false;
    *frequency = fake.config.frequency;
    return true;
}

std::int64_t plat_counter() {
    fake.now += fake.config.step;
    return fake.now;
}

PlatHandle plat_open_port(const char* name, int* error) {
    log(OP_OPEN, 0, name);
    *error = fake.config.open_error;
    return fake.config.open_fails ? PLAT_INVALID_HANDLE : FAKE_PORT;
}

void plat_port_path(const char* name, char* path, std::size_t size) {
    std::snprintf(path, size, "%s", name);
}

bool plat_port_device(PlatHandle, bool* character, std::uint64_t* device) {
    *character = fake.config.port_is_char;
    *device = fake.config.port_device;
    return true;
}

bool plat_path_device(const char* path, std::uint64_t* device) {
    auto found = fake.config.devices.find(path);
    if (found == fake.config.devices.end())
        return false;
    *device = found->second;
    return true;
}

bool plat_console_names(char* names, std::size_t size) {
    std::snprintf(names, size, "%s", fake.config.console_names.c_str());
    return !fake.config.console_names.empty();
}

int plat_claim_port(PlatHandle) {
    log(OP_CLAIM);
    return fake.config.port_in_use ? FAKE_BUSY : 0;
}

bool plat_error_in_use(int error) {
    return error == FAKE_BUSY;
}

void plat_release_port(PlatHandle) {
    log(OP_RELEASE);
}

bool plat_close_port(PlatHandle port) {
    log(OP_CLOSE, port);
    return true;
}

bool plat_write_byte(PlatHandle, unsigned char byte) {
    log(OP_WRITE_BYTE, byte);
    return true;
}

LineResult plat_break_on(PlatHandle, int* error) {
    return line_change(OP_BREAK_ON, error);
}

LineResult plat_break_off(PlatHandle, int* error) {
    return line_change(OP_BREAK_OFF, error);
}

bool plat_pulse_transmitter(PlatHandle) {
    return fake.config.pulse_device;
}

int plat_write_pulses(PlatHandle, const std::uint32_t* us, int count) {
    std::string lengths;
    for (int i = 0; i < count; ++i)
        lengths += (i ? " " : "") + std::to_string(us[i]);
    log(OP_WRITE_PULSES, count, lengths);
    return fake.config.pulse_error;
}

void plat_error_text(int error, char* text, std::size_t size) {
    std::snprintf(text, size, "error %d", error);
}

PlatHandle plat_create_file(const char* name, int* error) {
    *error = fake.config.open_error;
    if (fake.config.open_fails)
        return PLAT_INVALID_HANDLE;
    fake.file_names[fake.next_file] = name;
    fake.files[name].clear();
    return fake.next_file++;
}

bool plat_write_file(PlatHandle file, const char* data, std::size_t length) {
    fake.files[fake.file_names[file]].append(data, length);
    return true;
}

void plat_sleep_ms(unsigned ms) {
    log(OP_SLEEP, ms);
    fake.now += fake.config.sleep_ticks
                    ? fake.config.sleep_ticks
                    : static_cast<std::int64_t>(ms) * fake.config.frequency / 1000;
    if (++fake.sleeps == fake.config.interrupt_at_sleep)
        fake.interrupted = 130;
}

void plat_catch_interrupts() {}

int plat_interrupted() {
    return fake.interrupted;
}

void plat_lock_memory() {
    log(OP_LOCK_MEMORY);
}

bool plat_raise_process_priority(long* error) {
    log(OP_RAISE_PROCESS);
    *error = fake.config.process_error;
    return fake.config.process_error == 0;
}

bool plat_raise_thread_priority(long* error) {
    log(OP_RAISE_THREAD);
    *error = fake.config.thread_error;
    return fake.config.thread_error == 0;
}

void plat_rest_before_frame() {
    log(OP_REST);
}

bool plat_leave_frame_priority() {
    log(OP_NORMAL_PROCESS);
    log(OP_NORMAL_THREAD);
    return true;
}

bool plat_timer_min_period_ms(unsigned* ms) {
    *ms = fake.config.min_period_ms;
    return !fake.config.caps_fail;
}

bool plat_tick_timer_start(std::intptr_t* event, std::intptr_t* timer) {
    log(OP_TICK_START);
    if (fake.config.tick_start_fails)
        return false;
    fake.tick_origin = fake.now;
    fake.ticks_consumed = 0;
    *event = 7;
    *timer = 9;
    return true;
}

void plat_tick_timer_stop(std::intptr_t, std::intptr_t) {
    log(OP_TICK_STOP);
}

// Ticks fall every millisecond from the timer's start; a wait consumes every
// tick so far, or blocks until the next one.
bool plat_tick_wait(std::intptr_t, unsigned timeout_ms) {
    log(OP_TICK_WAIT);
    if (fake.config.ticks_stop_at && ++fake.tick_waits >= fake.config.ticks_stop_at) {
        fake.now += static_cast<std::int64_t>(timeout_ms) * fake.config.frequency / 1000;
        return false;
    }
    std::int64_t ticks = (fake.now - fake.tick_origin) / tick_period();
    if (ticks > fake.ticks_consumed) {
        fake.ticks_consumed = ticks;
        return true;
    }
    fake.ticks_consumed += 1;
    fake.now = fake.tick_origin + fake.ticks_consumed * tick_period();
    return true;
}
