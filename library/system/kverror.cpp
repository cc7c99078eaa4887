#include "kverror.h"

#include "kvguard.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kverror_tables.h"
#include "kvlang.h"
#include "kvmsgbox.h"
#include "kvstr.h"
#include "kvsysfmt.h"

namespace {

struct RegisteredTable {
  const KvErrorTableEntry* table;
  int count;
};
RegisteredTable g_tables[KV_ERROR_MAX_TABLES];
int g_tableCount = 0;

// The process-wide error state, cleared as a whole.
struct ErrorState {
  HRESULT lastError;
  wchar_t message[KV_ERROR_MESSAGE_CHARS];
  DWORD detailsThread;
  int detailsCount;
  wchar_t details[KV_ERROR_DETAILS_CHARS];
};
ErrorState g_state;
wchar_t g_formatBuffer[KV_ERROR_DETAILS_CHARS];

const int kDetailsLimitBytes = 16384;

const wchar_t* LibString(UINT id) { return KvGetString(KvLang_GetLibraryHandle(), id); }

const wchar_t* TextOfWord(UINT_PTR word) {
  if (word == 0) return nullptr;
  if (word > 65535) return reinterpret_cast<const wchar_t*>(word);
  return LibString(static_cast<UINT>(word));
}

const wchar_t* LeadSentence(UINT_PTR leadId) {
  if (leadId > 65535) return reinterpret_cast<const wchar_t*>(leadId);
  for (int i = 0; i < kKvLeadSentenceCount; ++i)
    if (kKvLeadSentences[i].leadId == leadId) return LibString(kKvLeadSentences[i].stringId);
  return LibString(IDS_KV_LEAD_DEFAULT);
}

const wchar_t* Compose(UINT_PTR leadId, HRESULT code, const wchar_t* insert) {
  wchar_t* out = g_state.message;
  const wchar_t* lead = LeadSentence(leadId);
  int n = KvSysFormat(out, KV_ERROR_MESSAGE_CHARS, lead ? lead : L"", insert ? insert : L"");
  if (n >= KV_ERROR_MESSAGE_CHARS - 1) return out;
  const wchar_t* cause = KvErrorHandler_GetHresultString(code);
  if (cause) {
    KvStrCpyN(out + n, cause, KV_ERROR_MESSAGE_CHARS - n);
  } else {
    KvSysFormat(out + n, KV_ERROR_MESSAGE_CHARS - n, LibString(IDS_KV_MESSAGE_MISSING), static_cast<unsigned>(code));
  }
  return out;
}

}  // namespace

extern "C" int KVAPI KvErrorHandler_AddErrorTable(const KvErrorTableEntry* table, int count) {
  if (g_tableCount >= KV_ERROR_MAX_TABLES) return 1;
  g_tables[g_tableCount].table = table;
  g_tables[g_tableCount].count = count;
  ++g_tableCount;
  return 0;
}

extern "C" const wchar_t* KVAPI KvErrorHandler_GetHresultString(HRESULT code) {
  for (int t = 0; t < g_tableCount; ++t) {
    const RegisteredTable& r = g_tables[t];
    if (!r.table) continue;
    for (int i = 0; i < r.count; ++i)
      if (r.table[i].code == code) return TextOfWord(r.table[i].text);
  }
  for (int i = 0; i < kKvBuiltInErrorCount; ++i)
    if (kKvBuiltInErrors[i].code == code) return TextOfWord(kKvBuiltInErrors[i].text);
  return nullptr;
}

extern "C" const wchar_t* KVAPI KvErrorHandler_GetErrorMessage(UINT_PTR leadId, HRESULT code,
                                                              const wchar_t* insert) {
  return Compose(leadId, code, insert);
}

extern "C" BSTR KVAPI KvErrorHandler_ComposeErrorText(UINT_PTR leadId, HRESULT code, const wchar_t* insert) {
  const wchar_t* message = Compose(leadId, code, insert);
  if (g_state.detailsCount < 1) return SysAllocString(message);
  static const wchar_t kOpen[] = L"\r\n<Details>\r\n";
  static const wchar_t kClose[] = L"\r\n</Details>";
  UINT total = lstrlenW(message) + lstrlenW(kOpen) + lstrlenW(g_state.details) + lstrlenW(kClose);
  BSTR out = SysAllocStringLen(nullptr, total);
  if (!out) return nullptr;
  out[0] = 0;
  lstrcatW(out, message);
  lstrcatW(out, kOpen);
  lstrcatW(out, g_state.details);
  lstrcatW(out, kClose);
  return out;
}

extern "C" int KVAPI KvErrorHandler_MsgBox(HWND owner, DWORD flags, UINT_PTR leadId, HRESULT code,
                                          const wchar_t* insert, BOOL warning) {
  if (code == KV_E_CANCELLED) return 1;
  return KvErrorHandler_MsgBoxText(owner, flags, Compose(leadId, code, insert), warning);
}

extern "C" int KVAPI KvErrorHandler_MsgBoxText(HWND owner, DWORD flags, const wchar_t* text, BOOL warning) {
  return KvGuard<int>(0, [&]() -> int {
  wchar_t prefix[50];
  KvStrCpyN(prefix, LibString(IDS_KV_WARNING_PREFIX), 50);
  flags &= ~static_cast<DWORD>(KVMB_DETAILS);
  std::vector<wchar_t> details;
  if (g_state.detailsCount >= 1 && g_state.details[0]) {
    details.assign(g_state.details, g_state.details + lstrlenW(g_state.details) + 1);
    flags |= KVMB_DETAILS;
  }
  // The text may be the state's own message buffer: copy it before the state
  // is cleared.
  std::vector<wchar_t> shown(KV_ERROR_MESSAGE_CHARS + 50);
  int n = 0;
  if (warning) n = KvStrCpyNLen(shown.data(), prefix, static_cast<int>(shown.size()));
  KvStrCpyN(shown.data() + n, text ? text : L"", static_cast<int>(shown.size()) - n);
  KvErrorHandler_DetailsInit();
  return KvMsgBox_Custom(owner, flags, details.empty() ? nullptr : details.data(), L"%s", shown.data());
  });
}

extern "C" HRESULT __cdecl KvErrorHandler_DetailsAddString(HRESULT code, const wchar_t* format, ...) {
  DWORD thread = GetCurrentThreadId();
  if (g_state.detailsThread == 0)
    g_state.detailsThread = thread;
  else if (g_state.detailsThread != thread && code != g_state.lastError)
    return E_FAIL;
  if (!format) return E_POINTER;
  const wchar_t* text = format;
  bool codes = false;
  for (const wchar_t* p = format; *p; ++p)
    if (*p == L'%' || *p == L'$') codes = true;
  if (codes) {
    va_list args;
    va_start(args, format);
    KvSysVFormat(g_formatBuffer, KV_ERROR_DETAILS_CHARS, format, args);
    va_end(args);
    text = g_formatBuffer;
  }
  int have = lstrlenW(g_state.details), add = lstrlenW(text);
  if ((have + add + 2) * 2 >= kDetailsLimitBytes) return E_FAIL;
  memcpy(g_state.details + have, text, add * sizeof(wchar_t));
  g_state.details[have + add] = L'\r';
  g_state.details[have + add + 1] = L'\n';
  g_state.details[have + add + 2] = 0;
  ++g_state.detailsCount;
  g_state.lastError = code;
  return S_OK;
}

extern "C" HRESULT KVAPI KvErrorHandler_DetailsInit(void) {
  memset(&g_state, 0, sizeof(g_state));
  return S_OK;
}

extern "C" const wchar_t* KVAPI KvErrorHandler_DetailsInfo(HRESULT* lastError, int* count, DWORD* thread) {
  if (lastError) *lastError = g_state.lastError;
  if (count) *count = g_state.detailsCount;
  if (thread) *thread = g_state.detailsThread;
  return g_state.detailsCount < 1 ? nullptr : g_state.details;
}

extern "C" HRESULT KVAPI KvErrorHandler_GetLastError(void) { return g_state.lastError; }

extern "C" HRESULT KVAPI KvErrorHandler_TranslateWin32Error(DWORD error) {
  switch (error) {
    case 0: return S_OK;
    case 1: return E_INVALIDARG;
    case 2: case 3: case 126: case 127: return KV_E_NOTFOUND;
    case 4: return KV_E_TOOMANYOPENFILES;
    case 5: return E_ACCESSDENIED;
    case 6: return E_HANDLE;
    case 14: case 84: return E_OUTOFMEMORY;
    case 15: return KV_E_INVALIDDRIVE;
    case 32: return KV_E_SHARINGVIOLATION;
    case 39: case 112: return KV_E_DISKFULL;
    case 80: return KV_E_FILEEXISTS;
    case 110: return KV_E_OPEN;
    case 120: return E_NOTIMPL;
    case 123: return KV_E_BADFILENAME;
    case 170: return KV_E_BUSY;
    case 183: return KV_E_ALREADYEXISTS;
  }
  return E_FAIL;
}

extern "C" HRESULT KVAPI KvErrorHandler_TranslateCommDlgError(DWORD error) {
  switch (error) {
    case 0: return S_OK;
    case 1: case 3: case 4: case 11: case 0x3003: case 0x4001: case 0xFFFF: return E_INVALIDARG;
    case 2: case 5: case 7: case 8: case 9: case 10: case 0x3001: return E_OUTOFMEMORY;
    case 6: return KV_E_MISSINGRESOURCE;
    case 0x3002: return KV_E_BADFILENAME;
  }
  return E_FAIL;
}

// ---- Crash path ----

namespace {

bool Readable(const void* p, size_t n) {
  MEMORY_BASIC_INFORMATION mbi;
  const char* c = static_cast<const char*>(p);
  while (n > 0) {
    if (!VirtualQuery(c, &mbi, sizeof(mbi))) return false;
    if (mbi.State != MEM_COMMIT) return false;
    if (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)) return false;
    size_t room = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize - c;
    if (room >= n) return true;
    n -= room;
    c += room;
  }
  return true;
}

// The module that holds an address: its base and file name (without folder).
bool ModuleOf(const void* address, void** base, char* name, int cch) {
  MEMORY_BASIC_INFORMATION mbi;
  if (!VirtualQuery(address, &mbi, sizeof(mbi)) || mbi.State != MEM_COMMIT || !mbi.AllocationBase) return false;
  char path[MAX_PATH];
  if (!GetModuleFileNameA(static_cast<HMODULE>(mbi.AllocationBase), path, MAX_PATH)) return false;
  if (mbi.Type != MEM_IMAGE) return false;
  const char* file = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') file = p + 1;
  if (base) *base = mbi.AllocationBase;
  if (name) lstrcpynA(name, file, cch);
  return true;
}

const char* ExceptionName(DWORD code) {
  static const struct {
    DWORD code;
    const char* name;
  } kNames[] = {
      {0x80000001, "guard page violation"}, {0x80000002, "datatype misalignment"}, {0x80000003, "breakpoint"},
      {0x80000004, "single step"}, {0xC0000005, "access violation"}, {0xC0000006, "in page error"},
      {0xC0000008, "invalid handle"}, {0xC0000017, "no memory"}, {0xC000001D, "illegal instruction"},
      {0xC0000025, "noncontinuable exception"}, {0xC0000026, "invalid disposition"},
      {0xC000008C, "array bounds exceeded"}, {0xC000008D, "float denormal operand"},
      {0xC000008E, "float divide by zero"}, {0xC000008F, "float inexact result"},
      {0xC0000090, "float invalid operation"}, {0xC0000091, "float overflow"}, {0xC0000092, "float stack check"},
      {0xC0000093, "float underflow"}, {0xC0000094, "integer divide by zero"}, {0xC0000095, "integer overflow"},
      {0xC0000096, "privileged instruction"}, {0xC00000FD, "stack overflow"}, {0xC000013A, "control+c exit"},
  };
  for (const auto& n : kNames)
    if (n.code == code) return n.name;
  return "Unknown Type";
}

// A text writer that refuses lines that would come within 50 characters of
// the buffer's end.
struct DumpWriter {
  char* buffer;
  int size;
  int used;
  bool full;
  bool Line(const char* format, ...) {
    if (full) return false;
    char line[512];
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    if (n < 0 || n > static_cast<int>(sizeof(line)) - 1) n = sizeof(line) - 1;
    line[n] = 0;
    if (used + n + 50 > size) {
      full = true;
      return false;
    }
    memcpy(buffer + used, line, n + 1);
    used += n;
    return true;
  }
};

// Stack words and registers are pointer-sized: 32 bits in the product, 64 in
// the 64-bit test build. Dump lines print them as fixed-width hex.
typedef ULONG_PTR StackWord;
#ifdef _WIN64
#define KV_WORD_FMT "%016llX"
typedef unsigned long long WordArg;
#else
#define KV_WORD_FMT "%08X"
typedef unsigned WordArg;
#endif

void StackWordLine(DumpWriter& w, const StackWord* address, const char* lead, int* moduleHits) {
  if (!Readable(address, sizeof(StackWord))) {
    w.Line("%s%p: ........ \r\n", lead, address);
    return;
  }
  StackWord value = *address;
  void* base = nullptr;
  char name[MAX_PATH];
  if (ModuleOf(reinterpret_cast<void*>(value), &base, name, MAX_PATH)) {
    w.Line("%s%p: " KV_WORD_FMT "  %p + %X (%s)\r\n", lead, address, static_cast<WordArg>(value), base,
           static_cast<unsigned>(value - reinterpret_cast<StackWord>(base)), name);
    if (reinterpret_cast<StackWord>(base) <= 0x10000000 && moduleHits) ++*moduleHits;
  } else {
    w.Line("%s%p: " KV_WORD_FMT " \r\n", lead, address, static_cast<WordArg>(value));
  }
}

}  // namespace

extern "C" int KVAPI KvErrorHandler_DumpHex(char* buffer, int size, const void* data, int count) {
  if (!buffer || size < 1) return 0;
  buffer[0] = 0;
  DumpWriter w = {buffer, size, 0, false};
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (int i = 0; i < count; i += 8) {
    char hex[64] = {}, chars[16] = {};
    int h = 0;
    for (int k = 0; k < 8; ++k) {
      if (i + k >= count) {
        h += sprintf(hex + h, "   ");
        continue;
      }
      if (Readable(p + i + k, 1)) {
        unsigned char c = p[i + k];
        h += sprintf(hex + h, "%02X ", c);
        chars[k] = c >= 32 && c <= 126 ? static_cast<char>(c) : '.';
      } else {
        h += sprintf(hex + h, ".. ");
        chars[k] = '.';
      }
    }
    if (!w.Line(" %p: %s%s\r\n", p + i, hex, chars)) break;
  }
  return w.used;
}

extern "C" int KVAPI KvErrorHandler_DumpHexDWords(char* buffer, int size, const DWORD* data, int count) {
  if (!buffer || size < 1) return 0;
  buffer[0] = 0;
  DumpWriter w = {buffer, size, 0, false};
  for (int i = 0; i < count; i += 4) {
    char words[64] = {};
    int h = 0;
    for (int k = 0; k < 4 && i + k < count; ++k) {
      if (Readable(data + i + k, 4))
        h += sprintf(words + h, "%08X ", static_cast<unsigned>(data[i + k]));
      else
        h += sprintf(words + h, "........ ");
    }
    if (!w.Line(" %p: %s\r\n", data + i, words)) break;
  }
  return w.used;
}

extern "C" int KVAPI KvErrorHandler_DumpExceptionRecord(char* buffer, int size, const char* threadName,
                                                        EXCEPTION_POINTERS* pointers, DWORD sections) {
  if (HMODULE reporter = GetModuleHandleW(L"ErrorReport")) {
    typedef LONG(__stdcall * ReportFn)(EXCEPTION_POINTERS*);
    if (ReportFn report = reinterpret_cast<ReportFn>(
            reinterpret_cast<void*>(GetProcAddress(reporter, "_ErrorReport_UnmanagedException@4"))))
      report(pointers);
  }
  if (!buffer || size < 1) return 0;
  buffer[0] = 0;
  if (!pointers || !pointers->ExceptionRecord || !pointers->ContextRecord) return 0;
  if (sections == 0) sections = 255;
  DumpWriter w = {buffer, size, 0, false};
  const EXCEPTION_RECORD* rec = pointers->ExceptionRecord;
  const CONTEXT* ctx = pointers->ContextRecord;
  void* ip = rec->ExceptionAddress;
  if (sections & KV_DUMP_EXCEPTION) {
    char access[64] = "";
    if (rec->ExceptionCode == 0xC0000005 && rec->NumberParameters >= 2)
      sprintf(access, " %s:0x%p", rec->ExceptionInformation[0] ? "WRITE" : "READ",
              reinterpret_cast<void*>(rec->ExceptionInformation[1]));
    w.Line("Exception 0x%X (%s)%s IP:0x%p\r\n", static_cast<unsigned>(rec->ExceptionCode),
           ExceptionName(rec->ExceptionCode), access, ip);
  }
  if (sections & KV_DUMP_MODULE) {
    void* base = nullptr;
    char name[MAX_PATH] = "";
    if (ModuleOf(ip, &base, name, MAX_PATH))
      w.Line("In Module '%s' at Address 0x%p + 0x%p\r\n", name, base,
             reinterpret_cast<void*>(static_cast<char*>(ip) - static_cast<char*>(base)));
  }
  // The thread information block: its self pointer at fs:0x18 (gs:0x30 on 64-bit).
  NT_TIB* tib = nullptr;
#ifdef _WIN64
  asm volatile("movq %%gs:0x30, %0" : "=r"(tib));
  StackWord sp = ctx->Rsp;
#else
  asm volatile("movl %%fs:0x18, %0" : "=r"(tib));
  StackWord sp = ctx->Esp;
#endif
  StackWord stackLow = reinterpret_cast<StackWord>(tib->StackLimit);
  StackWord stackEnd = reinterpret_cast<StackWord>(tib->StackBase);
  if (sp < stackLow || sp >= stackEnd) {
    // The stack pointer lies elsewhere: take the region that holds it.
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(reinterpret_cast<void*>(sp), &mbi, sizeof(mbi))) {
      stackLow = reinterpret_cast<StackWord>(mbi.BaseAddress);
      stackEnd = stackLow + mbi.RegionSize;
    } else {
      stackLow = stackEnd = sp;
    }
  }
  if (sections & KV_DUMP_THREAD) {
    char stack[64];
    sprintf(stack, "0x%p-0x%p", reinterpret_cast<void*>(stackLow), reinterpret_cast<void*>(stackEnd));
    w.Line("Thread: %s ID=0x%X Stack=%s\r\n", threadName ? threadName : "",
           static_cast<unsigned>(GetCurrentThreadId()), stack);
  }
  if (sections & KV_DUMP_REGISTERS) {
    w.Line("Registers:\r\n");
#ifdef _WIN64
    w.Line(" RAX=%016llx CS=%04x RIP=%016llx EFLGS=%08x\r\n", ctx->Rax, ctx->SegCs, ctx->Rip, ctx->EFlags);
    w.Line(" RBX=%016llx SS=%04x RSP=%016llx RBP=%016llx\r\n", ctx->Rbx, ctx->SegSs, ctx->Rsp, ctx->Rbp);
    w.Line(" RCX=%016llx DS=%04x RSI=%016llx FS=%04x\r\n", ctx->Rcx, ctx->SegDs, ctx->Rsi, ctx->SegFs);
    w.Line(" RDX=%016llx ES=%04x RDI=%016llx GS=%04x\r\n", ctx->Rdx, ctx->SegEs, ctx->Rdi, ctx->SegGs);
#else
    w.Line(" EAX=%08x CS=%04x EIP=%08x EFLGS=%08x\r\n", ctx->Eax, ctx->SegCs, ctx->Eip, ctx->EFlags);
    w.Line(" EBX=%08x SS=%04x ESP=%08x EBP=%08x\r\n", ctx->Ebx, ctx->SegSs, ctx->Esp, ctx->Ebp);
    w.Line(" ECX=%08x DS=%04x ESI=%08x FS=%04x\r\n", ctx->Ecx, ctx->SegDs, ctx->Esi, ctx->SegFs);
    w.Line(" EDX=%08x ES=%04x EDI=%08x GS=%04x\r\n", ctx->Edx, ctx->SegEs, ctx->Edi, ctx->SegGs);
#endif
  }
  if (sections & KV_DUMP_CODE_BYTES) {
    if (w.Line("Bytes at CS:EIP:\r\n"))
      w.used += KvErrorHandler_DumpHex(buffer + w.used, size - w.used, ip, 16);
  }
  if ((sections & KV_DUMP_STACK) && w.Line("Stack Dump:\r\n")) {
    const StackWord* p = reinterpret_cast<const StackWord*>(sp);
    const StackWord* end = reinterpret_cast<const StackWord*>(stackEnd);
    int words = 16;
    int remaining = static_cast<int>(end - p);
    if (remaining < 20 && remaining > 16) words = remaining;
    if (words > remaining) words = remaining > 0 ? remaining : 0;
    int hits = 0;
    for (int i = 0; i < words; ++i) StackWordLine(w, p + i, " ", &hits);
    if (hits < 6) {
      const StackWord* q = reinterpret_cast<const StackWord*>(sp + 16 * sizeof(StackWord));
      const StackWord* stop = end - 4;
      int context = 0, trailing = 0;
      for (; q < stop && hits < 6 && !w.full; ++q) {
        if (!Readable(q, sizeof(StackWord))) {
          w.Line(">%p: ........ \r\n", q);
          break;
        }
        void* base = nullptr;
        if (ModuleOf(reinterpret_cast<void*>(*q), &base, nullptr, 0)) {
          StackWordLine(w, q, ">", nullptr);
          if (reinterpret_cast<StackWord>(base) <= 0x10000000) {
            ++hits;
            trailing = 4;
          }
        } else if (trailing > 0 && context < 16) {
          w.Line(" %p: " KV_WORD_FMT " \r\n", q, static_cast<WordArg>(*q));
          --trailing;
          ++context;
        }
      }
    }
    if (reinterpret_cast<StackWord>(p + words) < stackEnd - 4 * sizeof(StackWord) && w.Line("- - -\r\n"))
      for (const StackWord* t = end - 4; t < end; ++t) StackWordLine(w, t, " ", nullptr);
  }
  return w.used;
}

extern "C" LONG KVAPI KvErrorHandler_ExceptionFilter(EXCEPTION_POINTERS* pointers, const char* threadName) {
  if (pointers && pointers->ExceptionRecord && pointers->ExceptionRecord->ExceptionCode == 0x80000002)
    return EXCEPTION_CONTINUE_SEARCH;
  static char dump[4096];
  KvErrorHandler_DumpExceptionRecord(dump, sizeof(dump), threadName, pointers, 0);
  static int debuggerKnown = -1;
  if (debuggerKnown < 0) {
    typedef BOOL(WINAPI * IsDebuggerPresentFn)();
    HMODULE kernel = GetModuleHandleW(L"KERNEL32");
    IsDebuggerPresentFn fn =
        kernel ? reinterpret_cast<IsDebuggerPresentFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsDebuggerPresent")))
               : nullptr;
    debuggerKnown = fn && fn() ? 1 : 0;
  }
  if (debuggerKnown) return EXCEPTION_CONTINUE_SEARCH;
  KvErrorHandler_DetailsInit();
  KvErrorHandler_DetailsAddString(KV_E_EXCEPTION, L"%s", KvMsgBox_GetAppName());
  static wchar_t wide[4096];
  int n = MultiByteToWideChar(CP_ACP, 0, dump, -1, wide, 4096);
  if (n <= 0) wide[0] = 0;
  wide[4095] = 0;
  KvErrorHandler_DetailsAddString(KV_E_EXCEPTION, L"%s", wide);
  KvErrorHandler_MsgBoxText(reinterpret_cast<HWND>(-1), 0x30, Compose(0, KV_E_EXCEPTION, nullptr), FALSE);
  return EXCEPTION_EXECUTE_HANDLER;
}
