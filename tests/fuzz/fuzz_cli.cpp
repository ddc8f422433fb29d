// Arbitrary argument vectors (NUL-separated) through the whole program on the
// fake platform. A script argument always names one small fixed script, so
// the fuzzer never reads files of its own choosing.
#include "../../core/timing.h"
#include "../../tool/cli.h"
#include "../fake_platform.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
std::string script;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    script = "/tmp/tarvik-fuzz-cli-" + std::to_string(getpid());
    std::FILE* f = std::fopen(script.c_str(), "wb");
    if (!f)
        return 1;
    std::fputs("0 stop\n1 0x3aa\n\n# x\n2\nnosuch\n", f);
    std::fclose(f);
    return std::freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::vector<std::string> args = {"tarvik"};
    std::string current;
    for (std::size_t i = 0; i < size && args.size() < 16; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (args.size() < 16 && !current.empty())
        args.push_back(current);
    if (args.size() > 1 && args[1] == "-script" && args.size() > 2)
        args[2] = script;
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    FakeConfig config;
    config.sleep_ticks = 100000000000000LL;
    fake_reset(config);
    timing = TimingState();
    int status = tarvik_main(static_cast<int>(args.size()), argv.data());
    if (status != 0 && status != 1)
        __builtin_trap();
    auto changes = fake_line_changes();
    if (!changes.empty() && changes.back().second)
        __builtin_trap();
    return 0;
}
