#include "encoder_test_util.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {

std::string nativePath(std::string p) {
#ifdef _WIN32
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  std::replace(p.begin(), p.end(), '/', '\\');
#endif
  return p;
}

}  // namespace

std::string fixturePath(const std::string& name) { return nativePath(std::string(VOG_FIXTURE_DIR) + "/aacenc/" + name); }

bool fileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

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

std::vector<double> readF64(const std::string& path) {
  std::vector<double> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  double buf[1024];
  size_t n;
  while ((n = std::fread(buf, sizeof(double), 1024, f)) > 0) v.insert(v.end(), buf, buf + n);
  std::fclose(f);
  return v;
}

bool writeFile(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}
