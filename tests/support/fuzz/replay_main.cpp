// Runs the fuzz target over every file named on the command line (or every
// file of a folder), for builds without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <dirent.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int runFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 1;
  std::vector<uint8_t> buf;
  uint8_t tmp[4096];
  size_t n;
  while ((n = std::fread(tmp, 1, sizeof(tmp), f)) > 0) buf.insert(buf.end(), tmp, tmp + n);
  std::fclose(f);
  LLVMFuzzerTestOneInput(buf.data(), buf.size());
  return 0;
}

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    DIR* d = opendir(argv[i]);
    if (!d) {
      if (runFile(argv[i])) return 1;
      ++files;
      continue;
    }
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (runFile(std::string(argv[i]) + "/" + e->d_name)) return 1;
      ++files;
    }
    closedir(d);
  }
  std::printf("replayed %d inputs\n", files);
  return files ? 0 : 1;
}
