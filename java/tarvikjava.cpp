// The native methods of the Java class TarvikDLL. Prints nothing, ever.
#include "../core/commands.h"
#include "../core/frame.h"
#include "../core/port.h"
#include "../core/timing.h"

#include <jni.h>

#include <map>

namespace {

// The ports this library opened and has not closed, by the handle Java
// holds (only its low 32 bits name the port). A handle that was never
// opened here, or was closed already, is refused rather than acted on: it
// may by now belong to someone else in the JVM.
std::map<jint, Port> open_ports;

Port* port_of(jlong handle) {
    auto found = open_ports.find(static_cast<jint>(handle));
    return found == open_ports.end() ? nullptr : &found->second;
}

// A null String, or one the JVM cannot supply (an exception is then pending
// for the caller), gives no characters.
const char* chars_of(JNIEnv* env, jstring text) {
    return text ? env->GetStringUTFChars(text, nullptr) : nullptr;
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_TarvikDLL_TarvikOpen(JNIEnv* env, jobject, jstring name) {
    const char* chars = chars_of(env, name);
    if (!chars)
        return -1;
    std::int64_t frequency = 0;
    plat_counter_frequency(&frequency);
    init_timing(frequency);
    Port port;
    bool opened = open_port(chars, &port);
    env->ReleaseStringUTFChars(name, chars);
    if (!opened)
        return -1;
    // Sign-extended, as Java has always been given the system handle.
    jint handle = static_cast<jint>(port.handle);
    open_ports[handle] = port;
    return static_cast<jlong>(handle);
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikSend(JNIEnv*, jobject, jlong handle, jint code,
                                                 jint model, jint no_wakeup) {
    Port* port = port_of(handle);
    if (!port)
        return 0;
    if (no_wakeup == 0)
        send_wakeup(port);
    FrameResult sent = send_frame(port, code, model, false);
    return sent.thread_priority_restored && !sent.port_failed ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikDecode(JNIEnv* env, jobject, jstring name, jint model) {
    const char* chars = chars_of(env, name);
    if (!chars)
        return 0;
    command_code code = decode_command(chars, model);
    env->ReleaseStringUTFChars(name, chars);
    return code;
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikClose(JNIEnv*, jobject, jlong handle) {
    Port* port = port_of(handle);
    if (!port)
        return 0;
    bool closed = close_port(port);
    open_ports.erase(static_cast<jint>(handle));
    return closed ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikUseMMTimer(JNIEnv*, jobject, jint flag) {
    timing.use_mm_timer = flag;
    return flag;
}

} // extern "C"
