/* A minimal structured-exception "try/except" for the generated proxies, for
   a compiler without __try: the block's frame is put on the thread's
   exception-registration chain; an exception raised inside unwinds to it and
   jumps back to the except branch with the exception code. */
#pragma once

#include <windows.h>

struct KvSehFrame {
  EXCEPTION_REGISTRATION_RECORD record; /* first: the chain points here */
  void* jump[5];                        /* __builtin_setjmp buffer */
  DWORD code;
};

void KvSehPush(struct KvSehFrame* frame);
void KvSehPop(struct KvSehFrame* frame);

#define KV_SEH_TRY(frame)                   \
  {                                         \
    struct KvSehFrame frame;                \
    frame.code = 0;                         \
    if (!__builtin_setjmp(frame.jump)) {    \
      KvSehPush(&frame);
#define KV_SEH_EXCEPT(frame) \
      KvSehPop(&frame);      \
    } else {
#define KV_SEH_END \
    }              \
  }
