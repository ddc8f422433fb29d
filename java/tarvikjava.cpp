// The native methods of the Java class TarvikDLL. Prints nothing, ever.
#include "../core/commands.h"
#include "../core/frame.h"
#include "../core/port.h"
#include "../core/timing.h"

#include <jni.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// One call at a time, whatever Java thread makes it: frames share the
// timing state and may share a port, and a close must wait for the frame on
// its port. A send holds it for its frame, about 25 ms.
std::mutex library_lock;

// The ports this library opened and has not closed, by the handle Java
// holds (only its low 32 bits name the port). A handle that was never
// opened here, or was closed already, is refused rather than acted on: it
// may by now belong to someone else in the JVM.
std::map<jint, Port> open_ports;

Port* port_of(jlong handle) {
    auto found = open_ports.find(static_cast<jint>(handle));
    return found == open_ports.end() ? nullptr : &found->second;
}

void put_utf8(std::string* out, unsigned c) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
        return;
    }
    static const unsigned LEAD[] = {0, 0xC0, 0xE0, 0xF0};
    int more = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    *out += static_cast<char>(LEAD[more] | (c >> (6 * more)));
    while (more-- > 0)
        *out += static_cast<char>(0x80 | ((c >> (6 * more)) & 0x3F));
}

// A Java string as standard UTF-8, the name as the user wrote it (the JNI's
// own form writes U+0000 and characters beyond the BMP otherwise, and the
// system would see another name). False for a null String, and for what no
// name can hold: U+0000, which would end it early, or half a surrogate pair.
bool utf8_of(JNIEnv* env, jstring text, std::string* out) {
    if (!text)
        return false;
    jsize length = env->GetStringLength(text);
    std::vector<jchar> units(static_cast<std::size_t>(length));
    env->GetStringRegion(text, 0, length, units.data());
    for (std::size_t i = 0; i < units.size(); ++i) {
        unsigned c = units[i];
        if (c == 0 || (c >= 0xDC00 && c < 0xE000))
            return false;
        if (c >= 0xD800 && c < 0xDC00) {
            if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] >= 0xE000)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
        }
        put_utf8(out, c);
    }
    return true;
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_TarvikDLL_TarvikOpen(JNIEnv* env, jobject, jstring name) {
    std::lock_guard<std::mutex> hold(library_lock);
    std::string chars;
    if (!utf8_of(env, name, &chars))
        return -1;
    std::int64_t frequency = 0;
    plat_counter_frequency(&frequency);
    init_timing(frequency);
    Port port;
    if (!open_port(chars.c_str(), &port))
        return -1;
    // Sign-extended, as Java has always been given the system handle.
    jint handle = static_cast<jint>(port.handle);
    open_ports[handle] = port;
    return static_cast<jlong>(handle);
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikSend(JNIEnv*, jobject, jlong handle, jint code,
                                                 jint model, jint no_wakeup) {
    std::lock_guard<std::mutex> hold(library_lock);
    Port* port = port_of(handle);
    if (!port)
        return 0;
    if (no_wakeup == 0)
        send_wakeup(port);
    FrameResult sent = send_frame(port, code, model, false);
    return sent.thread_priority_restored && !sent.port_failed ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikDecode(JNIEnv* env, jobject, jstring name, jint model) {
    std::lock_guard<std::mutex> hold(library_lock);
    std::string chars;
    if (!utf8_of(env, name, &chars))
        return 0;
    return decode_command(chars.c_str(), model);
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikClose(JNIEnv*, jobject, jlong handle) {
    std::lock_guard<std::mutex> hold(library_lock);
    Port* port = port_of(handle);
    if (!port)
        return 0;
    bool closed = close_port(port);
    open_ports.erase(static_cast<jint>(handle));
    return closed ? 1 : 0;
}

// Between frames only: a frame's mode never changes while it is sent.
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikUseMMTimer(JNIEnv*, jobject, jint flag) {
    std::lock_guard<std::mutex> hold(library_lock);
    timing.use_mm_timer = flag;
    return flag;
}

} // extern "C"
