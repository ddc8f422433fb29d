// The Java library's entry points on the fake platform, through a minimal
// JNI environment: a jstring here is the address of a UTF-16 string, as Java
// holds it.
#include "fake_platform.h"

#include <gtest/gtest.h>
#include <jni.h>

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

const std::u16string& chars(jstring s) {
    return *reinterpret_cast<const std::u16string*>(s);
}

jsize JNICALL string_length(JNIEnv*, jstring s) {
    return static_cast<jsize>(chars(s).size());
}

void JNICALL string_region(JNIEnv*, jstring s, jsize start, jsize length, jchar* out) {
    for (jsize i = 0; i < length; ++i)
        out[i] = chars(s)[static_cast<std::size_t>(start + i)];
}

JNIEnv* environment() {
    static JNINativeInterface_ functions;
    static JNIEnv env;
    functions.GetStringLength = string_length;
    functions.GetStringRegion = string_region;
    env.functions = &functions;
    return &env;
}

jstring text(const std::u16string& s) {
    return reinterpret_cast<jstring>(const_cast<std::u16string*>(&s));
}

} // namespace

TEST(JavaLibrary, EntryPointsOnTheFakePlatform) {
    JNIEnv* env = environment();
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text(u"stop"), 2), 0x3AA);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text(u"-"), 1), 0xFF);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text(u"jump"), 0), 0x2E6);
    EXPECT_EQ(Java_TarvikDLL_TarvikDecode(env, nullptr, text(std::u16string(u"stop\0x", 6)), 1), 0);
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

    // Refused ports, and a device that goes away mid-frame.
    fake_reset("port_is_char=0");
    EXPECT_EQ(Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"notes.txt")), -1);
    fake_reset("port_is_tty=0");
    EXPECT_EQ(Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"/dev/null")), -1);
    // A refused break condition keeps the library's result.
    fake_reset("break_error=25 break_fails_from=1");
    jlong d = Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"D"));
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, d, 0x86, 1, 1), 1);
    EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, d), 1);
    fake_reset("break_error=5 break_fails_from=3");
    jlong c = Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"C"));
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, c, 0x86, 1, 1), 0);
    EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, c), 1);
}

// Names reach the system as the user wrote them, in standard UTF-8, or not
// at all: nothing is opened for a name the system would read as another.
TEST(JavaLibrary, NamesAsWrittenOrRefused) {
    JNIEnv* env = environment();
    std::string e_acute_2047; // 4094 bytes in UTF-8: it fits
    for (int i = 0; i < 2047; ++i)
        e_acute_2047 += "\xC3\xA9";
    struct Case {
        std::u16string name;
        std::string opened; // the trace; "" when refused
    } cases[] = {
        {u"P\u00e9\u20ac", "open P\xC3\xA9\xE2\x82\xAC claim"},
        {u"P\U0001F916", "open P\xF0\x9F\xA4\x96 claim"}, // beyond the BMP: a surrogate pair
        {u"\u007f", "open \x7F claim"},
        {std::u16string(u"a\0b", 3), ""}, // U+0000 would end the name early
        {u"P\xD800", ""},                 // half a pair
        {u"P\xD800x", ""},
        {u"P\xDC00\xD800", ""},
        {std::u16string(4095, u'x'), "open " + std::string(4095, 'x') + " claim"},
        {std::u16string(4096, u'x'), ""}, // longer than the system takes
        {std::u16string(4096, u'x') + u".vcd", ""},
        {std::u16string(2047, u'\u00e9'), "open " + e_acute_2047 + " claim"},
        {std::u16string(2048, u'\u00e9'), ""}, // the system counts bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opened.substr(0, 40));
        fake_reset();
        jlong port = Java_TarvikDLL_TarvikOpen(env, nullptr, text(c.name));
        EXPECT_EQ(port == -1, c.opened.empty());
        EXPECT_EQ(fake_trace(), c.opened);
        Java_TarvikDLL_TarvikClose(env, nullptr, port);
    }
}

// A recording is a regular file and one handle's: what is no file is left
// untouched, a second writer is refused until the first has closed.
TEST(JavaLibrary, RecordingsOnlyRegularFilesAndOneWriters) {
    JNIEnv* env = environment();
    fake_reset("special=fifo.vcd");
    EXPECT_EQ(Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"fifo.vcd")), -1);
    jlong first = Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"x.vcd"));
    ASSERT_NE(first, -1);
    std::string header = fake_file("x.vcd");
    EXPECT_EQ(Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"x.vcd")), -1);
    EXPECT_EQ(Java_TarvikDLL_TarvikSend(env, nullptr, first, 0x86, 1, 1), 1);
    EXPECT_EQ(fake_file("x.vcd").find(header), 0u); // the second open emptied nothing
    EXPECT_GT(fake_file("x.vcd").size(), header.size());
    EXPECT_EQ(Java_TarvikDLL_TarvikClose(env, nullptr, first), 1);
    jlong again = Java_TarvikDLL_TarvikOpen(env, nullptr, text(u"x.vcd"));
    EXPECT_NE(again, -1);
    EXPECT_EQ(fake_file("x.vcd"), header); // the next writer starts afresh
    Java_TarvikDLL_TarvikClose(env, nullptr, again);
    EXPECT_EQ(fake_file("fifo.vcd"), "");
}

// Any number of threads, in any order: one call at a time. Each frame comes
// out whole and exact to the tick (the clock is shared: an overlapping
// frame would show as raw line changes), and a close waits for the frame
// on its port.
TEST(JavaLibrary, ThreadsCallOneAtATime) {
    JNIEnv* env = environment();
    fake_reset();
    const int THREADS = 8, ROUNDS = 5;
    std::vector<std::u16string> names;
    for (int i = 0; i < THREADS; ++i)
        names.push_back(u"P" + std::u16string(1, static_cast<char16_t>(u'a' + i)));
    std::vector<int> sent(THREADS);
    std::vector<std::thread> threads;
    for (int i = 0; i < THREADS; ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < ROUNDS; ++round) {
                jlong port = Java_TarvikDLL_TarvikOpen(env, nullptr, text(names[i]));
                Java_TarvikDLL_TarvikUseMMTimer(env, nullptr, round % 2);
                // A neighbour closes this port while it may be sending.
                std::thread closer([&] { Java_TarvikDLL_TarvikClose(env, nullptr, port); });
                sent[i] += Java_TarvikDLL_TarvikSend(env, nullptr, port, 0x86, 1, 1);
                closer.join();
            }
        });
    for (std::thread& t : threads)
        t.join();
    Java_TarvikDLL_TarvikUseMMTimer(env, nullptr, 0);
    std::string trace = " " + fake_trace() + " ";
    int frames = 0, total = 0;
    for (std::size_t at = 0; (at = trace.find("86/8 ", at)) != std::string::npos; ++at)
        ++frames;
    for (int n : sent)
        total += n;
    EXPECT_EQ(frames, total);
    EXPECT_EQ(trace.find(" on "), std::string::npos) << trace;
    // Every timer the frames started was stopped.
    std::size_t starts = 0, stops = 0;
    for (std::size_t at = 0; (at = trace.find(" tick+ ", at)) != std::string::npos; ++at)
        ++starts;
    for (std::size_t at = 0; (at = trace.find(" tick- ", at)) != std::string::npos; ++at)
        ++stops;
    EXPECT_EQ(starts, stops);
    EXPECT_GT(total, 0);
}
