// Loads the tarvikjava library without a JVM and calls its entry points
// (on Windows by their decorated names) through a minimal JNI environment.
// Prints the failures and "N passed, N failed". Arguments: the library, a
// recording path for one frame, an ordinary file that must stay untouched,
// and on Linux a pseudo-terminal to send a frame to.
#include <jni.h>

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Library;
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define OPEN_NAME "_Java_TarvikDLL_TarvikOpen@12"
#define SEND_NAME "_Java_TarvikDLL_TarvikSend@28"
#define DECODE_NAME "_Java_TarvikDLL_TarvikDecode@16"
#define CLOSE_NAME "_Java_TarvikDLL_TarvikClose@16"
#define TIMER_NAME "_Java_TarvikDLL_TarvikUseMMTimer@12"
#else
#define OPEN_NAME "Java_TarvikDLL_TarvikOpen"
#define SEND_NAME "Java_TarvikDLL_TarvikSend"
#define DECODE_NAME "Java_TarvikDLL_TarvikDecode"
#define CLOSE_NAME "Java_TarvikDLL_TarvikClose"
#define TIMER_NAME "Java_TarvikDLL_TarvikUseMMTimer"
#endif
#ifndef _WIN32
#include <dlfcn.h>
#include <sys/mman.h>
typedef void* Library;
#endif

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

#ifdef _WIN32
Library load(const char* path) {
    return LoadLibraryA(path);
}
void* symbol(Library library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}
#else
Library load(const char* path) {
    return dlopen(path, RTLD_NOW);
}
void* symbol(Library library, const char* name) {
    return dlsym(library, name);
}

// Locked memory of this process, in kB: a library inside a JVM must leave
// its host's memory as it found it.
long locked_kb() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (status && std::fgets(line, sizeof line, status))
        std::sscanf(line, "VmLck: %ld", &kb);
    if (status)
        std::fclose(status);
    return kb;
}
#endif

template <typename Fn> Fn entry(Library library, const char* name) {
    void* p = symbol(library, name);
    check(p != NULL, name, 0);
    return reinterpret_cast<Fn>(p);
}

} // namespace

int main(int argc, char** argv) {
    Library dll = argc > 1 ? load(argv[1]) : NULL;
    if (!dll) {
        std::printf("FAILED: loading the library\n0 passed, 1 failed\n");
        return 1;
    }
    OpenFn open = entry<OpenFn>(dll, OPEN_NAME);
    SendFn send = entry<SendFn>(dll, SEND_NAME);
    DecodeFn decode = entry<DecodeFn>(dll, DECODE_NAME);
    CloseFn close = entry<CloseFn>(dll, CLOSE_NAME);
    TimerFn timer = entry<TimerFn>(dll, TIMER_NAME);
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
    if (argc > 2) {
        jlong rec = open(&env, NULL, string_of(argv[2]));
        check(rec != -1, "open recording", static_cast<long>(rec));
        check(send(&env, NULL, rec, 0x86, 1, 0) != 0, "send", 0);
        check(close(&env, NULL, rec) != 0, "close", 0);
        check(close(&env, NULL, rec) == 0, "close twice", 0);
    }
    if (argc > 3)
        check(open(&env, NULL, string_of(argv[3])) == -1, "an ordinary file is no port", 0);
#ifndef _WIN32
    if (argc > 4) {
        static char page[4096];
        check(mlock(page, sizeof page) == 0, "lock a page of the host's", 0);
        long before = locked_kb();
        jlong port = open(&env, NULL, string_of(argv[4]));
        check(port != -1, "open pseudo-terminal", static_cast<long>(port));
        send(&env, NULL, port, 0x8E, 1, 1);
        check(locked_kb() == before, "host memory left as it was", locked_kb());
        check(close(&env, NULL, port) != 0, "close pseudo-terminal", 0);
    }
#endif
    check(got_strings == released_strings, "every string released", got_strings);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
