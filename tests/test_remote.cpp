// Who may drive the robot through the remote: the rule itself, row by row
// (the real server's answers are tested from tests/e2e/test_remote.py).
#include "../remote/access.h"

#include <gtest/gtest.h>

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
        {loopback, "127.255.0.9:8080", "", "", false, ""},
        {loopback, "localhost:8080", "", "", false, ""},
        {loopback, "[::1]:8080", "", "", false, ""},
        {loopback, "rebound.example:8080", "", "", false, HOST}, // DNS rebinding
        {loopback, "127.attacker.example:8080", "", "", false, HOST},
        {loopback, "127.0.0.1.nip.io:8080", "", "", false, HOST},
        {loopback, "127.0.0.1@evil.example:8080", "", "", false, HOST},
        {loopback, "127.0.0.256:8080", "", "", false, HOST},
        {loopback, "127.0.0.01:8080", "", "", false, HOST},      // read as octal elsewhere
        {loopback, "127.0.0:8080", "", "", false, HOST},
        {loopback, "127.0.0.1.:8080", "", "", false, HOST},
        {loopback, "127.0.0.1.1:8080", "", "", false, HOST},
        {loopback, "127.0..1:8080", "", "", false, HOST},
        {loopback, "127.0.0.1000:8080", "", "", false, HOST},
        {loopback, "128.0.0.1:8080", "", "", false, HOST},
        {loopback, "localhost.:8080", "", "", false, HOST},
        {loopback, "127.0.0.1:8081", "", "", false, HOST},
        {loopback, "127.0.0.1", "", "", false, HOST},             // port 80
        {loopback, "", "", "", true, HOST},
        {loopback, "127.0.0.1:8080", "null", "", true, ORIGIN},
        {loopback, "127.0.0.1:8080", "https://127.0.0.1:8080", "", false, ORIGIN},
        {keyed, "robot.local:8080", "http://robot.local:8080", "k", false, ""},
        {keyed, "192.168.1.20:8080", "", "", false, KEY},
        {keyed, "192.168.1.20:8080", "", "kk", false, KEY},
        {keyed, "192.168.1.20:8080", "", "", true, ""},
        {keyed, "192.168.1.20:8080", "http://elsewhere.example", "k", false, ORIGIN},
        // clang-format on
    };
    for (const Case& c : cases)
        EXPECT_EQ(refusal(c.access, c.host, c.origin, c.key, c.page), c.refusal)
            << c.host << " " << c.origin << " " << c.key;
}

TEST(Remote, KeysAreRandomAndCookiesCarryThem) {
    // Every digit of a key is random: none stays the same over 16 keys.
    std::string first = make_key(), varies(32, '-');
    for (int i = 0; i < 16; ++i) {
        std::string other = make_key();
        for (std::size_t d = 0; d < 32; ++d)
            varies[d] = other[d] != first[d] ? '+' : varies[d];
    }
    EXPECT_EQ(varies, std::string(32, '+'));
    EXPECT_EQ(cookie_key("lang=en; tarvik_key=abc"), "abc");
    EXPECT_EQ(cookie_key("tarvik_key=abc;x=1"), "abc");
    EXPECT_EQ(cookie_key("xtarvik_key=abc"), "");
}
