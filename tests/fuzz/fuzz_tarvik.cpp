// Command lines and scripts through the whole program on the fake platform:
// the arguments NUL-separated, after an empty one the bytes of the script
// that -script names (the fuzzer reads no file of its own choosing).
#include "../../core/commands.h"
#include "../../core/timing.h"
#include "../../tool/cli.h"
#include "../fake_platform.h"
#include "../files.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

static std::string script;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    script = temp_path("fuzz.txt");
    return std::freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t end = std::min(input.find(std::string(2, '\0')), size);
    write_file(script, input.substr(std::min(end + 2, size)));
    std::vector<std::string> args = {"tarvik"};
    for (std::size_t at = 0, next; at <= end && args.size() < 16; at = next + 1) {
        next = std::min(input.find('\0', at), end);
        args.push_back(input.substr(at, next - at));
    }
    // Only names of its own in the trace: every port is "P".
    for (std::size_t i = 1; i + 1 < args.size(); ++i)
        if (args[i] == "-script" || args[i] == "-port")
            args[i + 1] = args[i] == "-script" ? script : "P";
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    fake_reset("sleep_ticks=100000000000000"); // longer than any 32-bit delay
    timing = TimingState();
    int status = tarvik_main(static_cast<int>(args.size()), argv.data());
    // Every frame whole and the line left off; no status but 0 and 1.
    if ((status != 0 && status != 1) || fake_trace().find(" on ") != std::string::npos)
        __builtin_trap();
    // Both resolutions search the same tables: they agree on what is known.
    for (RobotModel model = MODEL_V1; model <= MODEL_PET && args.size() > 1; ++model)
        if ((lookup_command(args[1].c_str(), model) != 0) !=
            (decode_command(args[1].c_str(), model) != 0))
            __builtin_trap();
    return 0;
}
