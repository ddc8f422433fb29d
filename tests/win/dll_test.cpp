// Loads tarvikjava.dll without a JVM and calls its entry points by their
// decorated names through a minimal JNI environment. Prints the failures and
// "N passed, N failed". Argument: a recording path for one frame.
#include <jni.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

int passed, failed, got_strings, released_strings;

void check(bool ok, const char* what, long value) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s (%ld)\n", what, value);
    }
}

// A jstring here is simply the address of its modified UTF-8 characters.
jstring string_of(const char* text) {
    return reinterpret_cast<jstring>(const_cast<char*>(text));
}

const char* JNICALL get_chars(JNIEnv*, jstring s, jboolean* is_copy) {
    ++got_strings;
    if (is_copy)
        *is_copy = JNI_FALSE;
    return reinterpret_cast<const char*>(s);
}

void JNICALL release_chars(JNIEnv*, jstring, const char*) {
    ++released_strings;
}

typedef jlong(JNICALL* OpenFn)(JNIEnv*, jclass, jstring);
typedef jint(JNICALL* SendFn)(JNIEnv*, jclass, jlong, jint, jint, jint);
typedef jint(JNICALL* DecodeFn)(JNIEnv*, jclass, jstring, jint);
typedef jint(JNICALL* CloseFn)(JNIEnv*, jclass, jlong);
typedef jint(JNICALL* TimerFn)(JNIEnv*, jclass, jint);

template <typename Fn> Fn entry(HMODULE dll, const char* name) {
    FARPROC p = GetProcAddress(dll, name);
    check(p != NULL, name, 0);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}

} // namespace

int main(int argc, char** argv) {
    HMODULE dll = LoadLibraryA("tarvikjava.dll");
    if (!dll) {
        std::printf("FAILED: LoadLibrary (%lu)\n0 passed, 1 failed\n", GetLastError());
        return 1;
    }
    OpenFn open = entry<OpenFn>(dll, "_Java_TarvikDLL_TarvikOpen@12");
    SendFn send = entry<SendFn>(dll, "_Java_TarvikDLL_TarvikSend@28");
    DecodeFn decode = entry<DecodeFn>(dll, "_Java_TarvikDLL_TarvikDecode@16");
    CloseFn close = entry<CloseFn>(dll, "_Java_TarvikDLL_TarvikClose@16");
    TimerFn timer = entry<TimerFn>(dll, "_Java_TarvikDLL_TarvikUseMMTimer@12");
    if (!open || !send || !decode || !close || !timer) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }

    JNINativeInterface_ functions;
    std::memset(&functions, 0, sizeof functions);
    functions.GetStringUTFChars = get_chars;
    functions.ReleaseStringUTFChars = release_chars;
    JNIEnv env;
    env.functions = &functions;

    struct {
        const char* name;
        jint model;
        jint code;
    } names[] = {
        {"stop", 1, 0x8E},  {"stop", 2, 0x3AA}, {"stop", 3, 0x28E},
        {"stop", 0, 0x28E}, {"jump", 7, 0x2E6}, {"D0_head_and_upper_body", 2, 0x310},
        {"-", 1, 0xFF},     {"Stop", 1, 0},     {"D", 2, 0},
    };
    for (const auto& n : names)
        check(decode(&env, NULL, string_of(n.name), n.model) == n.code, n.name, n.model);
    check(decode(&env, NULL, NULL, 1) == 0, "decode null", 0);
    check(open(&env, NULL, string_of("C:\\nonexistent\\port")) == -1, "open missing port", 0);
    check(timer(&env, NULL, 1) == 1, "mm timer on", 0);
    check(timer(&env, NULL, 0) == 0, "mm timer off", 0);
    if (argc > 1) {
        jlong rec = open(&env, NULL, string_of(argv[1]));
        check(rec != -1, "open recording", static_cast<long>(rec));
        check(send(&env, NULL, rec, 0x86, 1, 0) != 0, "send", 0);
        check(close(&env, NULL, rec) != 0, "close", 0);
    }
    check(got_strings == released_strings, "every string released", got_strings);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
