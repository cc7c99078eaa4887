// Codec memory: the allocator every codec module uses, plus the fatal-error
// exit and the warning printer.
//
// Blocks start on a 16-byte boundary. A small header just before each block
// keeps the pointer that malloc returned and the source file and line of the
// request (for leak tracing in a debugger). Sizes are 32-bit; a request whose
// size arithmetic would overflow fails with null instead of returning a short
// block.
#pragma once

#include <cstddef>
#include <cstdint>

// A 16-byte-aligned block of at least `size` bytes, contents undefined; null
// when size is 0, when size plus the header overhead does not fit in 32 bits,
// or when malloc fails.
void* utilMalloc(uint32_t size, const char* file, int32_t line);

// utilMalloc of count * size bytes filled with zero bytes; null when either is
// 0, when the product overflows 32 bits, or when memory runs out.
void* utilCalloc(uint32_t count, uint32_t size, const char* file, int32_t line);

// Gives a block of utilMalloc/utilCalloc back; null is ignored.
void utilFree(void* block, const char* file, int32_t line);

// The source file and line recorded for a live block (diagnostics only).
// Returns false for null.
bool utilBlockOrigin(const void* block, const char** file, int32_t* line);

// Prints a fatal-error block to stderr and ends the process with exit code 20.
[[noreturn]] void utilFatalError(const char* message, const char* file, int32_t line);

// Prints a warning block to stderr; returns the result of the last print.
int utilWarning(const char* message, const char* file, int32_t line, int32_t unused,
                const char* extra);

// The base name of a source path: the text after the last backslash (or
// slash), the whole path when it has none, null for null.
const char* utilBaseName(const char* path);
