// Who may drive the robot through the remote: the rule itself, row by row
// (the real server's answers are tested from tests/e2e/test_remote.py).
#include "../remote/access.h"

#include <gtest/gtest.h>

TEST(Remote, HostsAndOriginsThatMayDriveTheRobot) {
    const Access loopback = {8080, true, ""}, keyed = {8080, false, "k"};
    for (const char* host : {"127.0.0.1:8080", "127.255.0.9:8080", "localhost:8080", "[::1]:8080"})
        EXPECT_EQ(refusal(loopback, host, "", "", false), "") << host;
    // Not even the page for a name that is no loopback literal: DNS rebinding,
    // names that start alike, numbers read otherwise elsewhere (01 as octal),
    // another port (none is 80).
    for (const char* host :
         {"rebound.example:8080", "127.attacker.example:8080", "127.0.0.1.nip.io:8080",
          "127.0.0.1@evil.example:8080", "127.0.0.256:8080", "127.0.0.01:8080", "127.0.0:8080",
          "127.0.0.1.:8080", "127.0.0.1.1:8080", "127.0..1:8080", "127.0.0.1000:8080",
          "128.0.0.1:8080", "localhost.:8080", "127.0.0.1:8081", "127.0.0.1", ""})
        EXPECT_EQ(refusal(loopback, host, "", "", true), "request for another host") << host;
    const std::string ORIGIN = "request from another origin", KEY = "missing or wrong key";
    EXPECT_EQ(refusal(loopback, "127.0.0.1:8080", "null", "", true), ORIGIN);
    EXPECT_EQ(refusal(loopback, "127.0.0.1:8080", "https://127.0.0.1:8080", "", false), ORIGIN);
    EXPECT_EQ(refusal(keyed, "robot.local:8080", "http://robot.local:8080", "k", false), "");
    EXPECT_EQ(refusal(keyed, "192.168.1.20:8080", "", "", false), KEY);
    EXPECT_EQ(refusal(keyed, "192.168.1.20:8080", "", "kk", false), KEY);
    EXPECT_EQ(refusal(keyed, "192.168.1.20:8080", "", "", true), ""); // the page needs no key
    EXPECT_EQ(refusal(keyed, "192.168.1.20:8080", "http://elsewhere.example", "k", false), ORIGIN);
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
    EXPECT_EQ(cookie_key("tarvik_key=abc;x=1"), "abc");
    EXPECT_EQ(cookie_key("xtarvik_key=abc"), "");
}
