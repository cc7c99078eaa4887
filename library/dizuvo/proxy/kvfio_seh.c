/* The exception frames of kvfio_seh.h. */
#include "kvfio_seh.h"

#ifdef _WIN64
/* 64-bit Windows has no frame chain at fs:0 (its exception handling is
   table-driven): a vectored handler stands in. Each thread keeps its innermost
   frame in a TLS slot, chained through the record's Next field; an exception
   raised while a thread holds a frame resumes in that frame's except branch.
   Notification-only codes (debug output, thread names, C++ throws) pass by. */
static DWORD g_frameSlot = TLS_OUT_OF_INDEXES;
static INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

static void KvSehResume(struct KvSehFrame* frame) { __builtin_longjmp(frame->jump, 1); }

static int KvSehPassesBy(DWORD code) {
  return code == 0x40010006 /* debug output */ || code == 0x4001000A /* wide debug output */ ||
         code == 0x406D1388 /* thread name */ || code == 0x20474343 /* GCC throw */ ||
         code == 0xE06D7363 /* MSVC throw */;
}

static LONG CALLBACK KvSehVectored(EXCEPTION_POINTERS* info) {
  struct KvSehFrame* frame = (struct KvSehFrame*)TlsGetValue(g_frameSlot);
  if (!frame || KvSehPassesBy(info->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  frame->code = info->ExceptionRecord->ExceptionCode;
  TlsSetValue(g_frameSlot, frame->record.Next);
  /* Resume in a call of KvSehResume(frame) on the free stack below the fault,
     with room for the callee's home area and the alignment of a call. */
  CONTEXT* c = info->ContextRecord;
  c->Rsp = ((c->Rsp - 512) & ~(DWORD64)15) - 8;
  c->Rcx = (DWORD64)(ULONG_PTR)frame;
  c->Rip = (DWORD64)(ULONG_PTR)KvSehResume;
  return EXCEPTION_CONTINUE_EXECUTION;
}

/* The handler stays registered for the life of the process, so the module
   that holds it stays loaded as long: COM unloads a proxy/stub DLL once it
   serves no proxy, and every later exception of the process (a debug output
   message among them) would then call into freed code. */
static BOOL CALLBACK KvSehInit(INIT_ONCE* once, void* parameter, void** context) {
  HMODULE self = NULL;
  (void)once;
  (void)parameter;
  (void)context;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                          (LPCWSTR)(void*)KvSehVectored, &self))
    return FALSE;
  g_frameSlot = TlsAlloc();
  return g_frameSlot != TLS_OUT_OF_INDEXES && AddVectoredExceptionHandler(1, KvSehVectored) != NULL;
}

void KvSehPush(struct KvSehFrame* frame) {
  InitOnceExecuteOnce(&g_once, KvSehInit, NULL, NULL);
  frame->record.Handler = NULL;
  frame->record.Next = (struct _EXCEPTION_REGISTRATION_RECORD*)TlsGetValue(g_frameSlot);
  TlsSetValue(g_frameSlot, frame);
}

void KvSehPop(struct KvSehFrame* frame) { TlsSetValue(g_frameSlot, frame->record.Next); }

#else
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
#endif
