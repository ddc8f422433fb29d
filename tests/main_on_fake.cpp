#include "../core/timing.h"
#include "../tool/cli.h"
#include "fake_platform.h"
#ifdef TARVIK_REMOTE
#include "../remote/remote.h"
#else
const ServeRemote serve_remote = nullptr;
#endif

#include <gtest/gtest.h>

#include <sstream>

int run_on_fake(const std::string& args, const std::string& config, std::string* out,
                std::string* err) {
    fake_reset(config);
    timing = TimingState();
    std::vector<std::string> words = {"tarvik"};
    std::istringstream in(args);
    for (std::string word; std::getline(in, word, ' ');)
        words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr(); // kept from the test's own output when not asked for
    int status = tarvik_main(static_cast<int>(words.size()), argv.data(), serve_remote);
    *out = testing::internal::GetCapturedStdout();
    std::string said = testing::internal::GetCapturedStderr();
    if (err)
        *err = said;
    return status;
}
