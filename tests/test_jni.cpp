// The Java library's entry points on the fake platform, through a minimal
// JNI environment: a jstring here is the address of its characters.
#include "fake_platform.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <cstring>

extern "C" {
JNIEXPORT jlong JNICALL Java_TarvikDLL_TarvikOpen(JNIEnv*, jobject, jstring);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikSend(JNIEnv*, jobject, jlong, jint, jint, jint);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikDecode(JNIEnv*, jobject, jstring, jint);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikClose(JNIEnv*, jobject, jlong);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikUseMMTimer(JNIEnv*, jobject, jint);
}

namespace {

int strings_held;

const char* JNICALL get_chars(JNIEnv*, jstring s, jboolean* is_copy) {
    ++strings_held;
    if (is_copy)
        *is_copy = JNI_FALSE;
    return reinterpret_cast<const char*>(s);
}

void JNICALL release_chars(JNIEnv*, jstring, const char*) {
    --strings_held;
}

JNIEnv* environment() {
    static JNINativeInterface_ functions;
    static JNIEnv env;
    functions.GetStringUTFChars = get_chars;
    functions.ReleaseStringUTFChars = release_chars;
    env.functions = &functions;
    return &env;
}

jstring text(const char* chars) {
    return reinterpret_cast<jstring>(const_cast<char*>(chars));
}

} // namespace

TEST(JavaLibrary, EntryPointsOnTheFakePlatform) {
    JNIEnv* env = environment();
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text("stop"), 2), 0x3AA);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text("-"), 1), 0xFF);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text("jump"), 0), 0x2E6);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, nullptr, 1), 0);
    EXPECT_EQ(Java_TarvikDLL_TarvikOpen(env, nullptr, nullptr), -1);

    // Two ports at once; each call does what it says and nothing else (the
    // library never locks memory, never prints).
    fake_reset();
    testing::internal::CaptureStdout();
    jlong a = Java_TarvikDLL_TarvikOpen(env, nullptr, text("A"));
    jlong b = Java_TarvikDLL_TarvikOpen(env, nullptr, text("B"));
    EXPECT_NE(a, b);
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, a, 0x86, 1, 0), 1);
    EXPECT_EQ(Java_TarvikDLL_TarvikUseMMTimer(env, nullptr, 1), 1);
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, b, 0x3AA, 2, 1), 1);
    EXPECT_EQ(Java_TarvikDLL_TarvikUseMMTimer(env, nullptr, 0), 0);
    EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, a), 1);
    EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, a), 0); // closed: not touched again
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, a, 0x86, 1, 1), 0);
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, b, 0x8E, 1, 1), 1);
    EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, b), 1);
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, 12345, 0x86, 1, 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(fake_trace(), "open A claim open B claim w0 s100 rest P T 86/8 N "
                            "rest P T tick+ t1 ~3aa/12 t42 tick- N release close "
                            "rest P T 8e/8 N release close");

    // Refused ports, and a device that goes away mid-frame.
    fake_reset("port_is_char=0");
    EXPECT_EQ(Java_TarvikDLL_TarvikOpen(env, nullptr, text("notes.txt")), -1);
    fake_reset("port_is_tty=0");
    EXPECT_EQ(Java_TarvikDLL_TarvikOpen(env, nullptr, text("/dev/null")), -1);
    // A refused break condition keeps the library's result.
    fake_reset("break_error=25 break_fails_from=1");
    jlong d = Java_TarvikDLL_TarvikOpen(env, nullptr, text("D"));
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, d, 0x86, 1, 1), 1);
    EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, d), 1);
    fake_reset("break_error=5 break_fails_from=3");
    jlong c = Java_TarvikDLL_TarvikOpen(env, nullptr, text("C"));
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, c, 0x86, 1, 1), 0);
    EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, c), 1);
    EXPECT_EQ(strings_held, 0);
}
