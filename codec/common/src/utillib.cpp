// Codec memory: 16-byte-aligned blocks with a header that records where the
// block came from; fatal-error exit and warning printer.
#include "utillib.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Lies directly before the caller's block. `raw` is the last member, so the
// pointer malloc returned always sits in the word right before the block.
struct BlockHeader {
  const char* file;
  int32_t line;
  uint32_t size;
  void* raw;
};

constexpr uint32_t kAlign = 16;
constexpr uint32_t kOverhead = sizeof(BlockHeader) + kAlign - 1;

BlockHeader* headerOf(const void* block) {
  return reinterpret_cast<BlockHeader*>(const_cast<char*>(static_cast<const char*>(block)) -
                                        sizeof(BlockHeader));
}

}  // namespace

void* utilMalloc(uint32_t size, const char* file, int32_t line) {
  if (size == 0) return nullptr;
  // The request plus header and alignment slack must stay within 32 bits on
  // every build, so that a wrapped size can never produce a short block.
  if (size > UINT32_MAX - kOverhead) return nullptr;
  void* raw = std::malloc(static_cast<size_t>(size) + kOverhead);
  if (!raw) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(raw) + sizeof(BlockHeader);
  start = (start + (kAlign - 1)) & ~static_cast<uintptr_t>(kAlign - 1);
  void* block = reinterpret_cast<void*>(start);
  BlockHeader* h = headerOf(block);
  h->file = file;
  h->line = line;
  h->size = size;
  h->raw = raw;
  return block;
}

void* utilCalloc(uint32_t count, uint32_t size, const char* file, int32_t line) {
  if (count == 0 || size == 0) return nullptr;
  if (count > UINT32_MAX / size) return nullptr;
  uint32_t total = count * size;
  void* block = utilMalloc(total, file, line);
  if (block) std::memset(block, 0, total);
  return block;
}

void utilFree(void* block, const char* file, int32_t line) {
  if (!block) return;
  std::free(headerOf(block)->raw);
}

bool utilBlockOrigin(const void* block, const char** file, int32_t* line) {
  if (!block) return false;
  const BlockHeader* h = headerOf(block);
  if (file) *file = h->file;
  if (line) *line = h->line;
  return true;
}

const char* utilBaseName(const char* path) {
  if (!path) return nullptr;
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') base = p + 1;
  return base;
}

void utilFatalError(const char* message, const char* file, int32_t line) {
  std::fprintf(stderr, "\a##########\nfatal error: %s in file %s, %d", message ? message : "",
               file ? file : "", static_cast<int>(line));
  std::fprintf(stderr, "\nThis is a program design failure - Aborting.\n##########\n");
  std::fflush(stderr);
  std::exit(20);
}

int utilWarning(const char* message, const char* file, int32_t line, int32_t unused,
                const char* extra) {
  (void)unused;
  const char* base = utilBaseName(file);
  int r = std::fprintf(stderr, "\a##########\n#warning: %s in file %s,%d", message ? message : "",
                       base ? base : "", static_cast<int>(line));
  if (extra && *extra) r = std::fprintf(stderr, " (%s)", extra);
  r = std::fprintf(stderr, "\n##########\n");
  return r;
}
