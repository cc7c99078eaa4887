// Chained error records of the codec.
//
// A codec function that fails returns a CodecError chain; null means success.
// The first record is where the failure arose, each caller on the way up may
// append a frame for its own position, and the outermost interface turns the
// chain into text or an id and deletes it.
#pragma once

#include <cstdint>

struct CodecError {
  char* file;        // base name of the reporting source file, or null
  int32_t line;      // source line
  char* function;    // function text, or null
  char* message;     // formatted message; null in appended frames
  CodecError* next;  // the next (outer) frame, or null
};

// New one-record chain with the formatted message (below 512 characters).
// Never null: when memory runs out, the static fallback record is returned.
CodecError* createError(const char* file, int32_t line, const char* function,
                        const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// Links a frame {base name, line, function} after the last record of the
// chain and returns the chain. A null chain stays null; a frame that cannot be
// allocated is dropped.
CodecError* appendErrorTrace(const char* file, int32_t line, const char* function,
                             CodecError* chain);

// Frees every record of the chain with its texts; the static fallback record
// is never freed. Null is ignored.
void deleteError(CodecError* chain);

// (errorNameHash(file) << 16) + line, with 32-bit wrap-around.
uint32_t errorGetId(const CodecError* record);

// Hash of a file name: h = ((c * 257) XOR (h * 2)) & 0xFFFF over its bytes
// taken as signed 8-bit values, sign-extended from 16 bits.
int32_t errorNameHash(const char* name);

// Template expansion over at most maxRecords records of the chain:
//   %# id as 8 hex digits, %% percent sign, %m file, %f function, %e message,
//   %n line in decimal; a backslash and its following character are copied.
// errorTextLength returns the characters formatErrorText writes plus one.
int32_t errorTextLength(const CodecError* chain, const char* text_template, int32_t maxRecords);
int32_t formatErrorText(const CodecError* chain, const char* text_template, char* out,
                        int32_t maxRecords);

// Writes "(ID:%#) %m:%n: %f (%e)\n" for the first record to stderr, deletes
// the chain and returns the first record's id; 0 for null; -1 (chain kept)
// when the text buffer cannot be allocated.
int32_t reportError(CodecError* chain);

// Owned copy of a text through utilMalloc; null for null or out of memory.
char* utilStrDup(const char* text);

// The static record returned when the error handler runs out of memory.
const CodecError* errorFallbackRecord();

// Trace hook of the encoder's bitstream writers; does nothing.
int bitstreamTrace(const char* group, int32_t count, int32_t flag, const char* element,
                   int32_t bits, const int16_t* values);
