// Owner of a sample buffer in its own process, for the cross-process memory
// tokens: it allocates a buffer (plain memory, or a file mapping), fills it
// with a known pattern, prints where it is, and then answers commands on
// standard input.
//
//   tokenowner [--mapping] SIZE
//   prints: "pid=P base=0xB mapping=0xM size=S"
//   commands (one per line):
//     dump OFFSET LENGTH   -> the bytes as hex on one line
//     fill SEED            -> refills the buffer with the pattern of SEED; "ok"
//     quit                 -> exits
//
// Pattern byte i of seed s: (i * 7 + s) & 0xFF.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Fill(unsigned char* p, unsigned long size, unsigned seed) {
  for (unsigned long i = 0; i < size; ++i) p[i] = static_cast<unsigned char>((i * 7 + seed) & 0xFF);
}

}  // namespace

int main(int argc, char** argv) {
  bool mapping = false;
  unsigned long size = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mapping") == 0)
      mapping = true;
    else
      size = std::strtoul(argv[i], nullptr, 0);
  }
  if (size == 0) {
    std::fprintf(stderr, "usage: tokenowner [--mapping] SIZE\n");
    return 2;
  }
  HANDLE section = nullptr;
  unsigned char* buffer = nullptr;
  if (mapping) {
    section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, nullptr);
    if (section) buffer = static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, size));
  } else {
    buffer = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  if (!buffer) {
    std::fprintf(stderr, "tokenowner: no buffer\n");
    return 1;
  }
  Fill(buffer, size, 3);
  std::printf("pid=%lu base=0x%08llx mapping=0x%08llx size=%lu\n", GetCurrentProcessId(),
              static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(buffer)),
              static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(section)), size);
  std::fflush(stdout);

  char line[256];
  while (std::fgets(line, sizeof line, stdin)) {
    unsigned long offset = 0, length = 0;
    unsigned seed = 0;
    if (std::sscanf(line, "dump %lu %lu", &offset, &length) == 2) {
      if (offset > size || length > size - offset) {
        std::printf("error range\n");
      } else {
        static const char kDigits[] = "0123456789abcdef";
        std::string hex(length * 2 + 1, '\n');
        for (unsigned long i = 0; i < length; ++i) {
          hex[2 * i] = kDigits[buffer[offset + i] >> 4];
          hex[2 * i + 1] = kDigits[buffer[offset + i] & 15];
        }
        std::fwrite(hex.data(), 1, hex.size(), stdout);
      }
    } else if (std::sscanf(line, "fill %u", &seed) == 1) {
      Fill(buffer, size, seed);
      std::printf("ok\n");
    } else if (std::strncmp(line, "quit", 4) == 0) {
      break;
    } else {
      std::printf("error command\n");
    }
    std::fflush(stdout);
  }
  return 0;
}
