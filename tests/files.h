// Temporary files for tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A path in the temporary folder, unique to this test process.
inline std::string temp_path(const std::string& leaf) {
    std::string name = "tarvik-test-" + std::to_string(getpid()) + "-" + leaf;
    return (std::filesystem::temp_directory_path() / name).string();
}
