// The native methods of the Java class TarvikDLL. Prints nothing, ever.
#include "../core/commands.h"
#include "../core/frame.h"
#include "../core/port.h"
#include "../core/timing.h"

#include <jni.h>

namespace {

// Java keeps the handle sign-extended; only its low 32 bits name the port.
PortHandle port_of(jlong handle) {
    return static_cast<PortHandle>(static_cast<jint>(handle));
}

// The ports this library opened and has not closed. A handle that was never
// opened here, or was closed already, is refused rather than acted on: it
// may by now belong to someone else in the JVM.
const int MAX_OPEN_PORTS = 64;
PortHandle open_ports[MAX_OPEN_PORTS];
int open_port_count;

int find_open(PortHandle port) {
    for (int i = 0; i < open_port_count; ++i)
        if (open_ports[i] == port)
            return i;
    return -1;
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
    PortHandle port = open_port(chars);
    env->ReleaseStringUTFChars(name, chars);
    if (port == INVALID_PORT)
        return -1;
    if (open_port_count == MAX_OPEN_PORTS) {
        close_port(port);
        return -1;
    }
    open_ports[open_port_count++] = port;
    return static_cast<jlong>(port);
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikSend(JNIEnv*, jobject, jlong handle, jint code,
                                                 jint model, jint no_wakeup) {
    PortHandle port = port_of(handle);
    if (find_open(port) < 0)
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
    int at = find_open(port_of(handle));
    if (at < 0)
        return 0;
    open_ports[at] = open_ports[--open_port_count];
    return close_port(port_of(handle)) ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikUseMMTimer(JNIEnv*, jobject, jint flag) {
    timing.use_mm_timer = flag;
    return flag;
}

} // extern "C"
