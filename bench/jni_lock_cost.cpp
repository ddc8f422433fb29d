// What the Java library's lock costs a caller on one thread: the uncontended
// lock and unlock alone, and whole TarvikSend calls to a recording, through
// the built library and a minimal JNI environment. After the Quick start's
// build:
//
//   J=/usr/lib/jvm/default-java/include
//   g++ -std=c++17 -O2 -I$J -I$J/linux bench/jni_lock_cost.cpp -o build/jni_lock_cost
//       -Lbuild -ltarvikjava -Wl,-rpath,$PWD/build
//   build/jni_lock_cost build/lock_cost.vcd
#include <jni.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
JNIEXPORT jlong JNICALL Java_TarvikDLL_TarvikOpen(JNIEnv*, jobject, jstring);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikSend(JNIEnv*, jobject, jlong, jint, jint, jint);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikClose(JNIEnv*, jobject, jlong);
}

namespace {

typedef std::chrono::steady_clock Clock;

// A jstring here is the address of a UTF-16 string.
jsize JNICALL length(JNIEnv*, jstring s) {
    return static_cast<jsize>(reinterpret_cast<std::u16string*>(s)->size());
}

void JNICALL region(JNIEnv*, jstring s, jsize start, jsize n, jchar* out) {
    const std::u16string& text = *reinterpret_cast<std::u16string*>(s);
    for (jsize i = 0; i < n; ++i)
        out[i] = text[static_cast<std::size_t>(start + i)];
}

double ns_since(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]).size() < 5 ||
        std::string(argv[1]).substr(std::string(argv[1]).size() - 4) != ".vcd") {
        std::fprintf(stderr, "usage: jni_lock_cost RECORDING.vcd\n");
        return 1;
    }
    std::mutex lock;
    const int PAIRS = 10000000;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < PAIRS; ++i) {
        lock.lock();
        lock.unlock();
    }
    std::printf("lock and unlock, uncontended: %.1f ns\n", ns_since(start) / PAIRS);

    JNINativeInterface_ functions = {};
    functions.GetStringLength = length;
    functions.GetStringRegion = region;
    JNIEnv env;
    env.functions = &functions;
    std::string path = argv[1];
    std::u16string name(path.begin(), path.end());
    jlong port = Java_TarvikDLL_TarvikOpen(&env, nullptr, reinterpret_cast<jstring>(&name));
    if (port == -1)
        return 1;
    std::vector<double> sends;
    for (int i = 0; i < 50; ++i) {
        start = Clock::now();
        Java_TarvikDLL_TarvikSend(&env, nullptr, port, 0x86, 1, 1);
        sends.push_back(ns_since(start));
    }
    Java_TarvikDLL_TarvikClose(&env, nullptr, port);
    std::sort(sends.begin(), sends.end());
    std::printf("TarvikSend of 0x86 (27.5 ms of pulses): median %.3f ms, fastest %.3f ms\n",
                sends[25] / 1e6, sends[0] / 1e6);
    return 0;
}
