// The 32-bit Windows build, by its machine code and export table (it cannot
// run where the kernel runs no 32-bit programs).
#include "e2e.h"

#include <gtest/gtest.h>

namespace {

std::string dump(const std::string& flags, const std::string& file) {
    const std::string dir = TARVIK_WINDOWS_BUILD_DIR;
    if (dir.empty())
        return "";
    return run_command({"i686-w64-mingw32-objdump", flags, "--no-show-raw-insn", dir + "/" + file},
                       "", {}, false)
        .out;
}

} // namespace

TEST(WindowsBuild, DoubleArithmeticDecoratedNamesSystemDllsOnly) {
    std::string code = dump("-d", "libtarvik_core.a");
    if (code.empty())
        GTEST_SKIP() << "no 32-bit Windows build given";
    // The timing values in SSE2 doubles: no x87 multiplication, which would
    // round them twice.
    std::size_t start = code.find("<__Z11init_timingx>:");
    ASSERT_NE(start, std::string::npos);
    std::string body = code.substr(start, code.find("ret", start) - start);
    EXPECT_EQ(body.find("fmul"), std::string::npos) << body;
    EXPECT_NE(body.find("mul"), std::string::npos);
    std::string dll = dump("-p", "tarvikjava.dll");
    for (const char* name : {"_Java_TarvikDLL_TarvikOpen@12", "_Java_TarvikDLL_TarvikSend@28",
                             "_Java_TarvikDLL_TarvikDecode@16", "_Java_TarvikDLL_TarvikClose@16",
                             "_Java_TarvikDLL_TarvikUseMMTimer@12"})
        EXPECT_NE(dll.find(std::string("] ") + name + "\n"), std::string::npos) << name;
    for (const std::string& imports : {dll, dump("-p", "tarvik.exe")})
        for (std::size_t at = 0; (at = imports.find("DLL Name: ", at)) != std::string::npos; ++at) {
            std::string name = imports.substr(at + 10, imports.find('\n', at) - at - 10);
            // Sockets for the program's remote control, never for the library.
            bool sockets = (name == "WS2_32.dll" || name == "MSWSOCK.dll") && imports != dll;
            EXPECT_TRUE(name == "KERNEL32.dll" || name == "msvcrt.dll" || name == "WINMM.DLL" ||
                        sockets)
                << name;
        }
}
