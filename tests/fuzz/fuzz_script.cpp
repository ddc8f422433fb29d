// Arbitrary bytes as a script (the first byte picks the model), played on
// the fake platform. Sleeps are stretched so that any delay ends at once.
#include "../../core/timing.h"
#include "../../tool/script.h"
#include "../fake_platform.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {
std::string path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    path = "/tmp/tarvik-fuzz-script-" + std::to_string(getpid());
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    FakeConfig config;
    config.sleep_ticks = 100000000000000LL; // longer than any 32-bit delay
    fake_reset(config);
    timing = TimingState();
    init_timing(config.frequency);
    run_script(fake_serial_port(), path.c_str(), data[0] % 5);
    // Every frame leaves the line off.
    auto changes = fake_line_changes();
    if (!changes.empty() && changes.back().second)
        __builtin_trap();
    return 0;
}
