// Chained error records: creation, frames, text templates, ids.
#include "errorhnd.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "utillib.h"

namespace {

char gFallbackFile[] = "errorhnd";
char gFallbackFunction[] = "error()";
char gFallbackMessage[] = "errorhnd: the error handler has run out of memory";
CodecError gFallback = {gFallbackFile, 0, gFallbackFunction, gFallbackMessage, nullptr};

constexpr int kMessageBuffer = 512;

// Appends text to the output (when given) and counts it.
struct TextSink {
  char* out;
  int32_t count;
  void put(const char* s, size_t n) {
    if (out) {
      std::memcpy(out + count, s, n);
      out[count + n] = '\0';
    }
    count += static_cast<int32_t>(n);
  }
  void put(const char* s) {
    if (s) put(s, std::strlen(s));
  }
};

int32_t expandTemplate(const CodecError* chain, const char* tmpl, char* out, int32_t maxRecords) {
  TextSink sink{out, 0};
  if (out) out[0] = '\0';
  if (!tmpl) tmpl = "";
  const CodecError* rec = chain;
  for (int32_t r = 0; r < maxRecords && rec; ++r, rec = rec->next) {
    for (const char* p = tmpl; *p;) {
      if (*p == '%') {
        char c = p[1];
        if (c == '\0') break;  // a lone percent sign ends the walk
        char num[16];
        switch (c) {
          case '#':
            std::snprintf(num, sizeof num, "%08" PRIx32, errorGetId(rec));
            sink.put(num);
            break;
          case '%': sink.put("%", 1); break;
          case 'm': sink.put(rec->file); break;
          case 'f': sink.put(rec->function); break;
          case 'e': sink.put(rec->message); break;
          case 'n':
            std::snprintf(num, sizeof num, "%" PRId32, rec->line);
            sink.put(num);
            break;
          default: break;  // unknown conversion: both characters skipped
        }
        p += 2;
      } else if (*p == '\\') {
        if (p[1] == '\0') {
          sink.put(p, 1);
          ++p;
        } else {
          sink.put(p, 2);
          p += 2;
        }
      } else {
        sink.put(p, 1);
        ++p;
      }
    }
  }
  return sink.count + 1;
}

}  // namespace

char* utilStrDup(const char* text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text) + 1;
  if (n > UINT32_MAX) return nullptr;
  char* copy = static_cast<char*>(utilMalloc(static_cast<uint32_t>(n), "errorhnd", 64));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

const CodecError* errorFallbackRecord() { return &gFallback; }

CodecError* createError(const char* file, int32_t line, const char* function,
                        const char* format, ...) {
  char buffer[kMessageBuffer];
  buffer[0] = '\0';
  if (format) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);  // bounded: longer text is cut
    va_end(args);
  }
  CodecError* rec = static_cast<CodecError*>(utilCalloc(1, sizeof(CodecError), __FILE__, __LINE__));
  if (!rec) return &gFallback;
  size_t len = std::strlen(buffer);
  rec->message = static_cast<char*>(utilMalloc(static_cast<uint32_t>(len + 1), __FILE__, __LINE__));
  if (!rec->message) {
    utilFree(rec, __FILE__, __LINE__);
    return &gFallback;
  }
  std::memcpy(rec->message, buffer, len + 1);
  rec->file = utilStrDup(utilBaseName(file));
  rec->line = line;
  rec->function = utilStrDup(function);
  rec->next = nullptr;
  return rec;
}

CodecError* appendErrorTrace(const char* file, int32_t line, const char* function,
                             CodecError* chain) {
  if (!chain) return nullptr;
  CodecError* frame = static_cast<CodecError*>(utilCalloc(1, sizeof(CodecError), __FILE__, __LINE__));
  if (!frame) return chain;
  frame->file = utilStrDup(utilBaseName(file));
  frame->line = line;
  frame->function = utilStrDup(function);
  frame->message = nullptr;
  frame->next = nullptr;
  CodecError* last = chain;
  while (last->next) last = last->next;
  // The static fallback record is shared and must stay unchanged: a frame
  // that would hang off it is dropped.
  if (last == &gFallback) {
    deleteError(frame);
    return chain;
  }
  last->next = frame;
  return chain;
}

void deleteError(CodecError* chain) {
  while (chain) {
    CodecError* next = chain->next;
    if (chain != &gFallback) {
      utilFree(chain->file, __FILE__, __LINE__);
      utilFree(chain->function, __FILE__, __LINE__);
      utilFree(chain->message, __FILE__, __LINE__);
      utilFree(chain, __FILE__, __LINE__);
    }
    chain = next;
  }
}

int32_t errorNameHash(const char* name) {
  uint32_t h = 0;
  if (name) {
    for (const char* p = name; *p; ++p) {
      int32_t c = static_cast<int8_t>(*p);
      h = (static_cast<uint32_t>(c * 257) ^ (h * 2)) & 0xFFFFu;
    }
  }
  return static_cast<int32_t>(static_cast<int16_t>(static_cast<uint16_t>(h)));
}

uint32_t errorGetId(const CodecError* record) {
  if (!record) return 0;
  uint32_t hash = static_cast<uint32_t>(errorNameHash(record->file)) & 0xFFFFu;
  return (hash << 16) + static_cast<uint32_t>(record->line);
}

int32_t errorTextLength(const CodecError* chain, const char* text_template, int32_t maxRecords) {
  return expandTemplate(chain, text_template, nullptr, maxRecords);
}

int32_t formatErrorText(const CodecError* chain, const char* text_template, char* out,
                        int32_t maxRecords) {
  return expandTemplate(chain, text_template, out, maxRecords);
}

int32_t reportError(CodecError* chain) {
  if (!chain) return 0;
  static const char kTemplate[] = "(ID:%#) %m:%n: %f (%e)\n";
  int32_t len = errorTextLength(chain, kTemplate, 1);
  char* text = static_cast<char*>(utilCalloc(static_cast<uint32_t>(len), 1, "errorhnd", 315));
  if (!text) {
    std::fputs("utillib: Unable to calloc for error message.\n", stderr);
    return -1;
  }
  formatErrorText(chain, kTemplate, text, 1);
  std::fputs(text, stderr);
  utilFree(text, __FILE__, __LINE__);
  int32_t id = static_cast<int32_t>(errorGetId(chain));
  deleteError(chain);
  return id;
}

int bitstreamTrace(const char* group, int32_t count, int32_t flag, const char* element,
                   int32_t bits, const int16_t* values) {
  return 0;
}
