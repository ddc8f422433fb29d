#include "files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string temp_path(const std::string& leaf) {
#ifdef _WIN32
    const char* dir = std::getenv("TEMP");
#else
    const char* dir = std::getenv("TMPDIR");
#endif
    return std::string(dir ? dir : "/tmp") + "/tarvik-test-" + std::to_string(getpid()) + "-" +
           leaf;
}
