// The remote control on the fake platform, through a real HTTP client: the
// statuses and answers, and the frames that reach the line, exact and in
// order.
#include "../remote/access.h"
#include "../remote/api.h"
#include "../remote/events.h"
#include "../remote/remote.h"
#include "fake_platform.h"
#include "files.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <regex>
#include <thread>

namespace {

std::uint64_t events_seen; // where events_until stopped: each server counts from 1

struct Served {
    Port port;
    int at = -1;
    Served(const char* listen, const std::string& config = "", RobotModel model = MODEL_V1) {
        fake_reset(config);
        events_seen = 0;
        RunSettings s = {"P", model, true, false, 0, nullptr, false, "", false, 0, listen};
        int status = 0;
        if (begin_run(s, &port, &status))
            at = remote_start(&port, listen, model);
    }
    ~Served() {
        if (at >= 0)
            remote_stop();
        end_run(&port, 0);
    }
};

// The events from where the previous call stopped up to one that holds
// needle (a minute at most), without their times (the fake's virtual clock counts
// every reading).
std::string events_until(const std::string& needle) {
    std::string all;
    for (int i = 0; i < 600 && all.find(needle) == std::string::npos; ++i)
        events_wait(&events_seen, &all, 100);
    return std::regex_replace(all, std::regex("\"time\":[0-9.e-]+,|id: [0-9]+\n"), "");
}

} // namespace

TEST(Remote, RequestsAnswersAndFrames) {
    Served served("127.0.0.1:0");
    ASSERT_GT(served.at, 0);
    EXPECT_EQ(remote_url(), "http://127.0.0.1:" + std::to_string(served.at) + "/");
    httplib::Client client("127.0.0.1", served.at);
    const char* GET = nullptr;
    const std::string big(REMOTE_BODY_LIMIT + 1, ' ');
    struct Case {
        const char* path;
        const char* body; // null for GET
        int status;
        const char* answer; // its start
        const char* header; // "Name: value", or ""
    } cases[] = {
        // clang-format off
        {"/api/send", R"({"command":"walk_forward","model":1})", 200, R"({"code":134,"bits":8})", ""},
        {"/api/send", R"({"command":"D3_walking","model":2})", 200, R"({"code":771,"bits":12})", ""},
        {"/api/send", R"({"command":"0x1a0"})", 200, R"({"code":416,"bits":12})", ""},
        {"/api/send", R"({"command":"0x86"})", 200, R"({"code":134,"bits":8})", ""},
        {"/api/send", R"({"model":3,"command":"stop"})", 200, R"({"code":654,"bits":12})", ""},
        {"/api/send", R"({"command":"nosuch"})", 400, R"({"error":"unrecognized command: nosuch"})", ""},
        {"/api/send", R"({"command":"stop","speed":2})", 400, R"({"error":"unknown field: speed"})", ""},
        {"/api/send", R"({"command":"stop","model":4})", 400, R"({"error":"model must be 1, 2 or 3"})", ""},
        {"/api/send", R"({"command":5})", 400, R"({"error":"expected a string field: command"})", ""},
        {"/api/send", "[1]", 400, R"({"error":"malformed JSON: expected an object"})", ""},
        {"/api/send", R"({"command":"stop"})", 403, R"({"error":"request for another host"})", "Host: rebound.example:80"},
        {"/api/send", R"({"command":"stop"})", 403, R"({"error":"request from another origin"})", "Origin: http://elsewhere.example"},
        {"/api/script", big.c_str(), 413,
         R"({"error":"request body larger than 1 MiB"})", ""},
        {"/api/stop", "", 200, R"({"stopped":false})", ""},
        {"/api/status", GET, 200, R"({"realtime":"direct, priority 49"})", ""}, // the sender thread's
        {"/api/commands?model=3", GET, 200, R"([{"name":"wake_up","code":)", ""},
        {"/api/commands?model=2", GET, 200, R"([{"name":"_walking","code":768},)", ""},
        {"/api/commands", GET, 400, R"({"error":"model must be 1, 2 or 3"})", ""},
        {"/nothing", GET, 404, R"({"error":"no such page"})", ""},
        {"/", GET, 200, "<!DOCTYPE html>", ""},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + std::string(" ") + std::string(c.body ? c.body : "").substr(0, 60));
        httplib::Headers headers;
        if (c.header[0]) {
            std::string h = c.header;
            headers.emplace(h.substr(0, h.find(':')), h.substr(h.find(':') + 2));
        }
        httplib::Result r = c.body ? client.Post(c.path, headers, c.body, "application/json")
                                   : client.Get(c.path, headers);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status);
        EXPECT_EQ(r->body.substr(0, std::strlen(c.answer)), c.answer);
    }
    EXPECT_EQ(fake_trace(), "open P claim lock rest P T 86/8 N rest P T 303/12 N rest P T 1a0/12 N "
                            "rest P T 86/8 N rest P T 28e/12 N");
    // Each model's commands as its list prints them, in the same order.
    const char* lists[] = {"", "commands", "commandsv2", "commandspet"};
    for (RobotModel model : {MODEL_V1, MODEL_V2, MODEL_PET}) {
        std::string listed, expected = read_file(TARVIK_TESTS_DIR "/expected/" +
                                                 std::string(lists[model]) + ".txt");
        httplib::Result r = client.Get("/api/commands?model=" + std::to_string(model));
        ASSERT_TRUE(r);
        char line[80];
        for (const auto& row : nlohmann::json::parse(r->body)) {
            std::string name = row["name"];
            std::snprintf(line, sizeof line, "           %s%s (%x)\n", name[0] == '_' ? "DX" : "",
                          name.c_str(), row["code"].get<unsigned>());
            listed += line;
        }
        EXPECT_NE(expected.find(listed), std::string::npos) << listed;
        EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'),
                  std::count(expected.begin(), expected.end(), '('))
            << model;
    }
    // A client that reconnects gets the frames it missed.
    std::string missed;
    client.Get("/api/events", {{"Last-Event-ID", "3"}}, [&missed](const char* data, std::size_t n) {
        missed.append(data, n);
        return false; // enough
    });
    EXPECT_EQ(std::regex_replace(missed, std::regex("\"time\":[0-9.e-]+,"), ""),
              "id: 4\ndata: "
              R"({"type":"frame","name":"0x86","code":134,"bits":8,"disturbed":false})"
              "\n\nid: 5\ndata: "
              R"({"type":"frame","name":"stop","code":654,"bits":12,"disturbed":false})"
              "\n\n");
}

TEST(Remote, ScriptsPlayWithProgressRefuseFramesAndStop) {
    // A millisecond's sleep passes a fifth of one on the fake: a script's
    // short waits take a few sleeps, its waits of days last while it plays.
    Served served("127.0.0.1:0", "sleep_ticks=2000");
    httplib::Client client("127.0.0.1", served.at);
    auto post = [&client](const char* path, const char* body) {
        httplib::Result r = client.Post(path, body, "application/json");
        return r ? std::to_string(r->status) + " " + r->body : "no answer";
    };
    EXPECT_EQ(post("/api/script", R"({"text":"0 walk_forward\r\n\n# 5 stop\n1 nosuch\n0 0x8e\n"})"),
              R"(202 {"playing":true})");
    EXPECT_EQ(
        events_until(R"("state":"ended")"),
        R"(data: {"type":"script","state":"playing","lines":5})"
        "\n\n"
        R"(data: {"type":"progress","line":1,"lines":5})"
        "\n\n"
        R"(data: {"type":"frame","name":"walk_forward","code":134,"bits":8,"disturbed":false,"line":1})"
        "\n\n"
        R"(data: {"type":"progress","line":4,"lines":5})"
        "\n\n"
        R"(data: {"type":"unknown","line":4,"name":"nosuch"})"
        "\n\n"
        R"(data: {"type":"progress","line":5,"lines":5})"
        "\n\n"
        R"(data: {"type":"frame","name":"0x8e","code":142,"bits":8,"disturbed":false,"line":5})"
        "\n\n"
        R"(data: {"type":"script","state":"ended","lines":5})"
        "\n\n");
    // A long name cut inside a character: the stray byte is replaced.
    std::string e = "\xC3\xA9", accents;
    for (int i = 0; i < 24; ++i)
        accents += e;
    EXPECT_EQ(post("/api/script", (R"({"text":"0 )" + accents + "\"}").c_str()),
              R"(202 {"playing":true})");
    EXPECT_NE(events_until(R"("state":"ended")")
                  .find(R"("name":")" + accents.substr(0, 46) + "\xEF\xBF\xBD\""),
              std::string::npos);
    EXPECT_EQ(post("/api/script", R"({"text":"0 stop\n2000000000 stop\n","model":2})"),
              R"(202 {"playing":true})");
    EXPECT_EQ(post("/api/script", R"({"text":"0 stop"})"),
              R"(409 {"error":"a script is playing: stop it first"})");
    EXPECT_EQ(post("/api/send", R"({"command":"stop"})"),
              R"(409 {"error":"a script is playing: stop it first"})");
    events_until(R"("code":938)"); // its first frame is out
    EXPECT_EQ(post("/api/stop", ""), R"(200 {"stopped":true})");
    std::string events = events_until(R"("state":"stopped")");
    EXPECT_NE(events.find(R"("state":"stopped")"), std::string::npos) << events;
    EXPECT_EQ(post("/api/send", R"({"command":"stop"})"), R"(200 {"code":142,"bits":8})");
    // How long the stopped wait lasted depends on when the stop came, and
    // whether the message shows before the next frame on when it is flushed.
    EXPECT_EQ(
        std::regex_replace(fake_trace(), std::regex(" s[0-9]+| msg"), ""),
        "open P claim lock rest P T 86/8 N rest P T 8e/8 N rest P T 3aa/12 N rest P T 8e/8 N");
    // A script still playing when the server stops ends after its frame.
    EXPECT_EQ(post("/api/script", R"({"text":"0 reset\n2000000000 stop"})"),
              R"(202 {"playing":true})");
    EXPECT_NE(events_until(R"("code":174)"), "");
}

TEST(Remote, BeyondLoopbackEveryRequestButThePageCarriesTheKey) {
    {
        Served local("localhost:0"); // a loopback name: no key
        EXPECT_EQ(remote_url(), "http://localhost:" + std::to_string(local.at) + "/");
    }
    Served served("0.0.0.0:0", "", MODEL_PET);
    std::smatch key;
    std::string url = remote_url();
    ASSERT_TRUE(
        std::regex_match(url, key, std::regex("http://0\\.0\\.0\\.0:[0-9]+/\\?key=([0-9a-f]{32})")))
        << url;
    httplib::Client client("127.0.0.1", served.at);
    const std::string good = key[1];
    struct Case {
        std::string path, cookie;
        int status;
    } cases[] = {
        {"/", "", 200},
        {"/api/commands?model=1", "", 403},
        {"/api/commands?model=1&key=" + good, "", 200},
        {"/api/commands?model=1&key=" + good.substr(1) + "0", "", 403},
        {"/api/commands?model=1&key=" + good.substr(0, 31) + (good[31] == '0' ? "1" : "0"), "",
         403},
        {"/api/commands?model=1", "lang=en; tarvik_key=" + good, 200},
        {"/api/commands?model=1", "xtarvik_key=" + good, 403},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + c.cookie);
        httplib::Headers headers;
        if (!c.cookie.empty())
            headers.emplace("Cookie", c.cookie);
        httplib::Result r = client.Get(c.path, headers);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status);
    }
    // The page opens on the server's model.
    httplib::Result page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<body data-model=\"3\">"), std::string::npos);
    // Every digit of a key is random: none stays the same over 16 keys.
    std::string first = make_key(), varies(32, '-');
    for (int i = 0; i < 16; ++i) {
        std::string other = make_key();
        for (std::size_t d = 0; d < 32; ++d)
            varies[d] = other[d] != first[d] ? '+' : varies[d];
    }
    EXPECT_EQ(varies, std::string(32, '+'));
}

TEST(Remote, EventsComeAtOnceAndStreamsEndWithTheServer) {
    auto served = std::make_unique<Served>("127.0.0.1:0");
    // A waiting stream hears of an event at once, not at its wait's end.
    std::uint64_t after = events_latest();
    std::string heard;
    auto start = std::chrono::steady_clock::now();
    std::thread waiter([&after, &heard] { events_wait(&after, &heard, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // it waits by now
    events_publish("{}");
    waiter.join();
    EXPECT_EQ(heard, "id: 1\ndata: {}\n\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    // A page still listening when the server stops: its stream ends.
    std::thread listener(
        [at = served->at] { httplib::Client("127.0.0.1", at).Get("/api/events"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    served.reset();
    listener.join();
}

TEST(Remote, ServesUntilInterruptedOrCannotListen) {
    std::string out;
    EXPECT_EQ(run_on_fake("-serve 127.0.0.1:0 -port P", "interrupt_at_sleep=2", &out), 130);
    EXPECT_TRUE(std::regex_match(
        out, std::regex("tarvik: remote control at http://127\\.0\\.0\\.1:[0-9]+/\n")))
        << out;
    EXPECT_EQ(fake_trace(), "open P claim lock w0 s100 msg s200 release close");
    EXPECT_EQ(run_on_fake("-serve 192.0.2.1:8080 -nowakeup -port P", "", &out), 1); // not ours
    EXPECT_EQ(out,
              "tarvik: cannot listen on 192.0.2.1:8080: the port is taken, or the address is not "
              "this machine's\n");
    EXPECT_EQ(fake_trace(), "open P claim lock msg release close");
}

TEST(Remote, AFrameThatCannotGoOutIsAFailure) {
    Served served("127.0.0.1:0", "break_error=5 break_fails_from=1"); // the device is gone
    httplib::Client client("127.0.0.1", served.at);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    httplib::Result r = client.Post("/api/send", R"({"command":"stop"})", "application/json");
    // A script ends at such a frame, as failed.
    httplib::Result played = client.Post("/api/script", R"({"text":"0 stop"})", "application/json");
    EXPECT_TRUE(played && played->status == 202);
    std::string events = events_until(R"("state":"failed")");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tarvik: P: error 5\ntarvik: P: error 5\n");
    EXPECT_EQ(out, "error writing port\nerror writing port\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(std::to_string(r->status) + " " + r->body, R"(503 {"error":"error writing port"})");
    EXPECT_NE(events.find(R"("state":"failed")"), std::string::npos) << events;
}

TEST(Remote, HostsAndOriginsThatMayDriveTheRobot) {
    const Access loopback = {8080, true, ""}, keyed = {8080, false, "k"};
    const std::string HOST = "request for another host", ORIGIN = "request from another origin",
                      KEY = "missing or wrong key";
    struct Case {
        const Access& access;
        const char *host, *origin, *key;
        bool page;
        std::string refusal;
    } cases[] = {
        // clang-format off
        {loopback, "127.0.0.1:8080", "", "", false, ""},
        {loopback, "[::1]:8080", "", "", false, ""},
        {loopback, "rebound.example:8080", "", "", false, HOST}, // DNS rebinding
        {loopback, "127.0.0.1:8081", "", "", false, HOST},
        {loopback, "127.0.0.1", "", "", false, HOST},             // port 80
        {loopback, "", "", "", true, HOST},
        {loopback, "127.0.0.1:8080", "null", "", true, ORIGIN},
        {loopback, "127.0.0.1:8080", "https://127.0.0.1:8080", "", false, ORIGIN},
        {keyed, "robot.local:8080", "http://robot.local:8080", "k", false, ""},
        {keyed, "192.168.1.20:8080", "", "", false, KEY},
        {keyed, "192.168.1.20:8080", "", "", true, ""},
        {keyed, "192.168.1.20:8080", "http://elsewhere.example", "k", false, ORIGIN},
        // clang-format on
    };
    for (const Case& c : cases)
        EXPECT_EQ(refusal(c.access, c.host, c.origin, c.key, c.page), c.refusal)
            << c.host << " " << c.origin << " " << c.key;
}
