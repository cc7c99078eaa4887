#include "encoder_test_util.h"

#include <fstream>

#include "vog_files.h"
#include "vog_paths.h"

std::string fixturePath(const std::string& name) { return vogtest::FixturePath("aacenc/" + name); }

bool fileExists(const std::string& path) { return vogtest::FileExists(path); }

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<double> readF64(const std::string& path) { return vogtest::ReadArray<double>(path); }

bool writeFile(const std::string& path, const void* data, size_t size) { return vogtest::WriteBytes(path, data, size); }
