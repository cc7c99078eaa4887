// Helpers of the encoder tests: fixture paths (Unix paths become Z: paths
// under Wine) and small readers of the reference files.
#pragma once

#include <string>
#include <vector>

std::string fixturePath(const std::string& name);  // in the fixture folder's aacenc/
bool fileExists(const std::string& path);
std::vector<std::string> readLines(const std::string& path);
// Raw little-endian float64 values of a file (empty when it cannot be read).
std::vector<double> readF64(const std::string& path);
bool writeFile(const std::string& path, const void* data, size_t size);
