// Temporary files for tests.
#pragma once

#include <string>

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
// A path in the temporary folder, unique to this test process.
std::string temp_path(const std::string& leaf);
