/* The exception frames of kvseh.h. */
#include "kvseh.h"

static EXCEPTION_DISPOSITION __cdecl KvSehHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                                  void* dispatcher) {
  struct KvSehFrame* frame = (struct KvSehFrame*)establisher;
  (void)context;
  (void)dispatcher;
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  frame->code = record->ExceptionCode;
  /* Frames registered after this one are unwound; then this one leaves the
     chain and execution resumes in its except branch. */
  RtlUnwind(establisher, 0, record, 0);
  __writefsdword(0, (DWORD)(ULONG_PTR)frame->record.Next);
  __builtin_longjmp(frame->jump, 1);
  return ExceptionContinueSearch; /* not reached */
}

void KvSehPush(struct KvSehFrame* frame) {
  frame->record.Handler = (PEXCEPTION_ROUTINE)KvSehHandler;
  frame->record.Next = (struct _EXCEPTION_REGISTRATION_RECORD*)(ULONG_PTR)__readfsdword(0);
  __writefsdword(0, (DWORD)(ULONG_PTR)&frame->record);
}

void KvSehPop(struct KvSehFrame* frame) { __writefsdword(0, (DWORD)(ULONG_PTR)frame->record.Next); }
