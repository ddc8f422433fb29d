#include "main_on_fake.h"

#include "../core/timing.h"
#include "../tool/cli.h"

#include <gtest/gtest.h>

int run_main_on_fake(std::vector<std::string> args, const FakeConfig& config, std::string* printed,
                     std::string* errors) {
    fake_reset(config);
    timing = TimingState();
    args.insert(args.begin(), "tarvik");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    if (errors)
        testing::internal::CaptureStderr();
    int status = tarvik_main(static_cast<int>(args.size()), argv.data());
    *printed = testing::internal::GetCapturedStdout();
    if (errors)
        *errors = testing::internal::GetCapturedStderr();
    return status;
}
