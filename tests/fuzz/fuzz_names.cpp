// Arbitrary names and models through both resolutions: they search the same
// tables, so they must agree on whether a name is known.
#include "../../core/commands.h"

#include <cstdio>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return std::freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 4)
        return 0;
    int model;
    std::memcpy(&model, data, 4);
    std::string name(reinterpret_cast<const char*>(data + 4), size - 4); // NUL-terminated copy
    command_code looked = lookup_command(name.c_str(), model);
    command_code decoded = decode_command(name.c_str(), model);
    bool table_model = model == MODEL_V1 || model == MODEL_V2 || model == MODEL_PET;
    if (table_model && (looked != 0) != (decoded != 0))
        __builtin_trap();
    if (!table_model && looked != 0)
        __builtin_trap();
    return 0;
}
