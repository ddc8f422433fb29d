// The Java library's entry points on the fake platform, through a minimal
// JNI environment: a jstring here is the address of a UTF-16 string, as Java
// holds it. A real JVM calls them from tests/e2e/test_java_threads.py.
#include "fake_platform.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <atomic>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
JNIEXPORT jlong JNICALL Java_TarvikDLL_TarvikOpen(JNIEnv*, jobject, jstring);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikSend(JNIEnv*, jobject, jlong, jint, jint, jint);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikDecode(JNIEnv*, jobject, jstring, jint);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikClose(JNIEnv*, jobject, jlong);
JNIEXPORT jint JNICALL Java_TarvikDLL_TarvikUseMMTimer(JNIEnv*, jobject, jint);
}

namespace {

using Chars = std::u16string;

const auto text = [](const Chars& s) { return (jstring)&s; };

jsize JNICALL string_length(JNIEnv*, jstring s) {
    return jsize(((Chars*)s)->size());
}

void JNICALL string_region(JNIEnv*, jstring s, jsize at, jsize length, jchar* out) {
    ((Chars*)s)->copy(reinterpret_cast<char16_t*>(out), std::size_t(length), std::size_t(at));
}

JNIEnv* const env = [] {
    static JNINativeInterface_ functions;
    static JNIEnv env = {&functions};
    functions.GetStringLength = string_length;
    functions.GetStringRegion = string_region;
    return &env;
}();

} // namespace

TEST(JavaLibrary, EntryPointsOnTheFakePlatform) {
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text(u"stop"), 2), 0x3AA);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text(u"-"), 1), 0xFF);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text(u"jump"), 0), 0x2E6);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, nullptr, 1), 0);
    EXPECT_EQ(Java_TarvikDLL_TarvikOpen(env, nullptr, nullptr), -1);

    // Two ports at once; each call does what it says and nothing else (the
    // library never locks memory, never prints).
    fake_reset();
    testing::internal::CaptureStdout();
    jlong a = Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"A"));
    jlong b = Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"B"));
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

    // A refused break condition keeps the result, a device gone mid-frame not.
    for (auto [config, sent] : {std::pair{"break_error=25 break_fails_from=1", 1},
                                std::pair{"break_error=5 break_fails_from=3", 0}}) {
        fake_reset(config);
        jlong port = Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"D"));
        EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, port, 0x86, 1, 1), sent) << config;
        EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, port), 1);
    }
}

// Names reach the system as the user wrote them, in standard UTF-8, or not
// at all: nothing is opened for a name the system would read as another.
TEST(JavaLibrary, NamesAsWrittenOrRefused) {
    std::string e_acute_2047; // 4094 bytes in UTF-8: it fits
    for (int i = 0; i < 2047; ++i)
        e_acute_2047 += "\xC3\xA9";
    const std::pair<Chars, std::string> cases[] = {
        {u"\u007fP\u0080\u00e9\u07ff\u0800\u20ac\uffff\U00010000\U0010FFFF\U0001F916",
         "\x7FP\xC2\x80\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"
         "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xF0\x9F\xA4\x96"}, // each width's ends
        {Chars(u"a\0b", 3), ""},                              // U+0000 would end the name early
        {u"P\xD800", ""},                                     // half a surrogate pair
        {u"P\xDC00\xD800", ""},
        {u"P\xD800\xE000", ""},
        {Chars(2047, u'\u00e9'), e_acute_2047},
        {Chars(2048, u'\u00e9'), ""}, // longer than the system takes: it counts bytes
    };
    for (const auto& [name, opened] : cases) {
        SCOPED_TRACE(opened.substr(0, 40));
        fake_reset();
        jlong port = Java_TarvikDLL_TarvikOpen(env, nullptr, text(name));
        EXPECT_EQ(port == -1, opened.empty());
        EXPECT_EQ(fake_trace(), opened.empty() ? "" : "open " + opened + " claim");
        Java_TarvikDLL_TarvikClose(env, nullptr, port);
    }
}

// Threads call one at a time: each frame whole (on the shared clock an
// overlapping one shows as raw line changes), a close after its port's frame.
TEST(JavaLibrary, ThreadsCallOneAtATime) {
    fake_reset();
    std::atomic<int> sent{0};
    std::vector<std::thread> threads;
    for (char16_t name = u'a'; name < u'a' + 8; ++name)
        threads.emplace_back([&sent, name] {
            for (int round = 0; round < 5; ++round) {
                jlong port = Java_TarvikDLL_TarvikOpen(env, nullptr, text(Chars(1, name)));
                Java_TarvikDLL_TarvikUseMMTimer(env, nullptr, round % 2);
                // A neighbour closes this port while it may be sending.
                std::thread closer([port] { Java_TarvikDLL_TarvikClose(env, nullptr, port); });
                sent += Java_TarvikDLL_TarvikSend(env, nullptr, port, 0x86, 1, 1);
                closer.join();
            }
        });
    for (std::thread& t : threads)
        t.join();
    Java_TarvikDLL_TarvikUseMMTimer(env, nullptr, 0);
    std::map<std::string, int> words;
    std::istringstream trace(fake_trace());
    for (std::string word; trace >> word;)
        ++words[word];
    EXPECT_GT(sent, 0);
    EXPECT_EQ(words["86/8"] + words["~86/8"], sent); // exact, or within a quarter unit
    EXPECT_EQ(words["on"], 0) << trace.str();
    EXPECT_EQ(words["tick+"], words["tick-"]); // every timer the frames started was stopped
}
