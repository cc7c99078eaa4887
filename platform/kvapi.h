// Calling convention and linkage of the utility library's exported functions.
// Every exported library function is a C function with the platform's standard
// calling convention; the DLL exports them MSVC-style (_Name@N).
#pragma once

#include "kvportable.h"

#ifndef KVAPI
#if defined(_WIN32) && defined(__i386__)
#define KVAPI __stdcall
#else
#define KVAPI  // one calling convention on 64-bit Windows and natively
#endif
#endif

#ifdef __cplusplus
#define KV_EXTERN_C_BEGIN extern "C" {
#define KV_EXTERN_C_END }
#else
#define KV_EXTERN_C_BEGIN
#define KV_EXTERN_C_END
#endif
