// Error handler: the message of every result code with its lead sentence, in
// English and German, against the string tables of vogaac2.dll and
// vogaac2.LNG as pefile reads them (fixture string_tables.tsv); every string id
// of both tables in all five languages; registered tables; details; the
// message box it shows; Win32 and common-dialog translation; the dump.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "kverror.h"
#include "kverror_tables.h"
#include "kvlang.h"
#include "kvmsgbox.h"
#include "string_tables.h"

using namespace kvtest;

namespace {

const std::wstring* Find(const std::string& label, int lang, int id) {
  return Tables().Find(label, lang, id);
}

// The text a language handle set to lang gives for an id: the satellite's
// own, else the DLL's English.
std::wstring Expected(LCID lang, int id) {
  const std::wstring* own = lang == 1033 ? nullptr : Find("lng", lang, id);
  const std::wstring* en = Find("dll", 1033, id);
  return own ? *own : en ? *en : std::wstring();
}

std::wstring ReplaceInsert(std::wstring lead, const std::wstring& insert) {
  size_t at = lead.find(L"%s");
  if (at != std::wstring::npos) lead.replace(at, 2, insert);
  return lead;
}

// The DLL's library language handle, switched per test.
struct Library {
  Library() {
    HMODULE dll = LoadLibraryW(L"vogaac2.dll");
    EXPECT_NE(dll, nullptr);
    EXPECT_EQ(KvLang_Open(&h, dll, 0, 0), S_OK);
    KvLang_SetLibraryHandle(h);
  }
  ~Library() {
    KvLang_SetLibraryHandle(nullptr);
    KvLang_Close(h);
  }
  void Use(LCID lang) { ASSERT_TRUE(KvLang_UpdateKernelLCID(h, lang, 0)); }
  HKVLANG h = nullptr;
};

// Message ids whose text does not begin with two line breaks.
const std::set<int> kNoBreaks = {48060, 48113, 48217, 48218, 48155, 48122, 48123, 48124, 48125, 48127, 48128,
                                 48129, 48130, 48131, 48132, 48133, 48134, 48135, 48136, 48138, 48139, 48151,
                                 48152, 48156};

TEST(KvErrorStrings, EveryIdOfBothTablesInAllFiveLanguages) {
  ASSERT_FALSE(Tables().text.empty()) << "string_tables.tsv missing";
  std::set<int> messages, leads;
  for (int i = 0; i < kKvBuiltInErrorCount; ++i) messages.insert(static_cast<int>(kKvBuiltInErrors[i].text));
  for (int i = 0; i < kKvLeadSentenceCount; ++i) leads.insert(static_cast<int>(kKvLeadSentences[i].stringId));
  EXPECT_EQ(messages.size(), 163u);  // 154 ids of the listed codes and 9 of the recorder codes
  EXPECT_EQ(leads.size(), 56u);
  std::set<int> all = messages;
  all.insert(leads.begin(), leads.end());
  all.insert({IDS_KV_MESSAGE_MISSING, IDS_KV_WARNING_PREFIX});
  for (int id : all) {
    ASSERT_TRUE(Find("dll", 1033, id)) << "id " << id << " missing in vogaac2.dll";
    for (LCID lang : kLanguages) {
      const std::wstring* text = Find("lng", lang, id);
      ASSERT_TRUE(text) << "id " << id << " missing in language " << lang;
      if (messages.count(id)) {
        bool breaks = text->compare(0, 2, L"\n\n") == 0;
        EXPECT_EQ(breaks, kNoBreaks.count(id) == 0) << "id " << id << " language " << lang;
        EXPECT_GT(text->size(), 3u);
      }
    }
  }
  // Texts quoted by the table, as stored.
  EXPECT_EQ(*Find("dll", 1033, 48019),
            L"\n\nThe file could not be opened. Make sure the file exists and that you have access to the file/folder.");
  EXPECT_EQ(*Find("dll", 1033, 48060),
            L"One or more effects in the package failed to load.\n\nDo you want to try to load the loadable effects "
            L"from the chain?");
  EXPECT_EQ(*Find("dll", 1033, 48163), L"An error occurred in the effect chain '%s'.\n");
  EXPECT_EQ(*Find("dll", 1033, 48401), L"\n\nError 0x%08x (message missing)");
  EXPECT_EQ(*Find("dll", 1033, 48402), L"Warning: ");
}

TEST(KvErrorMessages, EveryCodeWithItsLeadSentenceInEnglishAndGerman) {
  Library lib;
  for (LCID lang : {1033, 1031}) {
    SCOPED_TRACE(testing::Message() << "language " << lang);
    lib.Use(lang);
    std::set<HRESULT> seen;
    for (int i = 0; i < kKvBuiltInErrorCount; ++i) {
      HRESULT code = kKvBuiltInErrors[i].code;
      if (!seen.insert(code).second) continue;  // the first row of a code decides
      int id = static_cast<int>(kKvBuiltInErrors[i].text);
      std::wstring want = ReplaceInsert(Expected(lang, 48164), L"song.prj") + Expected(lang, id);
      const wchar_t* got = KvErrorHandler_GetErrorMessage(5, code, L"song.prj");
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(std::wstring(got), want) << std::hex << code;
      EXPECT_EQ(std::wstring(KvErrorHandler_GetHresultString(code)), Expected(lang, id));
    }
    // Every lead sentence without tokens, with the insert.
    for (int i = 0; i < kKvLeadSentenceCount; ++i) {
      std::wstring lead = Expected(lang, static_cast<int>(kKvLeadSentences[i].stringId));
      if (lead.find(L"$(") != std::wstring::npos) continue;
      std::wstring want = ReplaceInsert(lead, L"A") + Expected(lang, 48074);
      EXPECT_EQ(std::wstring(KvErrorHandler_GetErrorMessage(kKvLeadSentences[i].leadId, 0x8004E00A, L"A")), want)
          << "lead " << kKvLeadSentences[i].leadId;
    }
    // An unknown lead id uses the default lead sentence; a lead above 65535 is the text.
    EXPECT_EQ(std::wstring(KvErrorHandler_GetErrorMessage(13, 0x8004E00A, nullptr)),
              Expected(lang, 48160) + Expected(lang, 48074));
    EXPECT_EQ(std::wstring(KvErrorHandler_GetErrorMessage(reinterpret_cast<UINT_PTR>(L"Own %s."), 0x8004E00A, L"x")),
              L"Own x." + Expected(lang, 48074));
  }
  lib.Use(1033);
  EXPECT_EQ(std::wstring(KvErrorHandler_GetErrorMessage(0, 0x8004E0FF, nullptr)),
            L"An error occurred during the current operation.\n\nError 0x8004e0ff (message missing)");
  lib.Use(1031);
  EXPECT_EQ(std::wstring(KvErrorHandler_GetErrorMessage(0, 0x8004E0FF, nullptr)),
            Expected(1031, 48160) + L"\n\nFehler 0x8004e0ff (Meldung fehlt)");
  lib.Use(1033);
  // A long insert is cut at 2,047 characters; the message stays terminated.
  std::wstring huge(5000, L'y');
  const wchar_t* cut = KvErrorHandler_GetErrorMessage(5, 0x8004E007, huge.c_str());
  EXPECT_EQ(wcslen(cut), 2047u);
}

TEST(KvErrorMessages, RegisteredTablesAreSearchedFirstInOrder) {
  Library lib;
  lib.Use(1033);
  static const KvErrorTableEntry first[] = {
      {(HRESULT)0x8004E007, reinterpret_cast<UINT_PTR>(L"\n\nFirst table.")},
      {(HRESULT)0x8004E0FE, 48074},
      {(HRESULT)0x8004E0FD, 0},
  };
  static const KvErrorTableEntry second[] = {
      {(HRESULT)0x8004E007, reinterpret_cast<UINT_PTR>(L"\n\nSecond table.")},
      {(HRESULT)0x8004E0FC, reinterpret_cast<UINT_PTR>(L"\n\nOnly in the second.")},
  };
  EXPECT_EQ(std::wstring(KvErrorHandler_GetHresultString(0x8004E007)), Expected(1033, 48019));
  ASSERT_EQ(KvErrorHandler_AddErrorTable(first, 3), 0);
  ASSERT_EQ(KvErrorHandler_AddErrorTable(second, 2), 0);
  EXPECT_EQ(std::wstring(KvErrorHandler_GetHresultString(0x8004E007)), L"\n\nFirst table.");
  EXPECT_EQ(std::wstring(KvErrorHandler_GetHresultString(0x8004E0FE)), Expected(1033, 48074));
  EXPECT_EQ(KvErrorHandler_GetHresultString(0x8004E0FD), nullptr);
  EXPECT_EQ(std::wstring(KvErrorHandler_GetHresultString(0x8004E0FC)), L"\n\nOnly in the second.");
  EXPECT_EQ(std::wstring(KvErrorHandler_GetErrorMessage(0, 0x8004E0FD, nullptr)),
            L"An error occurred during the current operation.\n\nError 0x8004e0fd (message missing)");
  // Up to 32 tables; the 33rd is refused.
  int accepted = 2;
  while (KvErrorHandler_AddErrorTable(second, 0) == 0) ++accepted;
  EXPECT_EQ(accepted, 32);
  EXPECT_EQ(KvErrorHandler_AddErrorTable(first, 3), 1);
}

TEST(KvErrorTranslation, Win32AndCommonDialogErrors) {
  const std::map<DWORD, DWORD> win32 = {
      {0, 0},           {1, 0x80070057},   {2, 0x8004E00A},   {3, 0x8004E00A},   {126, 0x8004E00A},
      {127, 0x8004E00A}, {4, 0x8004E026},  {5, 0x80070005},   {6, 0x80070006},   {14, 0x8007000E},
      {84, 0x8007000E}, {15, 0x800404B0},  {32, 0x8004E05A},  {39, 0x8004E002},  {112, 0x8004E002},
      {80, 0x8004E032}, {110, 0x8004E007}, {120, 0x80004001}, {123, 0x8004E00D}, {170, 0x8004E005},
      {183, 0x8004E170}};
  for (DWORD e = 0; e < 20000; ++e) {
    auto it = win32.find(e);
    HRESULT want = static_cast<HRESULT>(it == win32.end() ? 0x80004005 : it->second);
    ASSERT_EQ(KvErrorHandler_TranslateWin32Error(e), want) << e;
  }
  EXPECT_EQ(KvErrorHandler_TranslateWin32Error(9999), static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(KvErrorHandler_TranslateWin32Error(0xFFFFFFFF), static_cast<HRESULT>(0x80004005));
  const std::map<DWORD, DWORD> dialog = {
      {0, 0},           {1, 0x80070057},      {3, 0x80070057},      {4, 0x80070057},      {11, 0x80070057},
      {0x3003, 0x80070057}, {0x4001, 0x80070057}, {0xFFFF, 0x80070057}, {2, 0x8007000E},  {5, 0x8007000E},
      {7, 0x8007000E},  {8, 0x8007000E},      {9, 0x8007000E},      {10, 0x8007000E},     {0x3001, 0x8007000E},
      {6, 0x8004E00E},  {0x3002, 0x8004E00D}, {12, 0x80004005},     {0x1001, 0x80004005}};
  for (const auto& c : dialog) EXPECT_EQ(KvErrorHandler_TranslateCommDlgError(c.first), static_cast<HRESULT>(c.second)) << c.first;
}

TEST(KvErrorDetails, ThreadRuleLimitAndComposition) {
  Library lib;
  lib.Use(1033);
  KvErrorHandler_DetailsInit();
  EXPECT_EQ(KvErrorHandler_DetailsInfo(nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(KvErrorHandler_DetailsAddString(0x8004E008, nullptr), static_cast<HRESULT>(0x80004003));
  EXPECT_EQ(KvErrorHandler_DetailsAddString(0x8004E008, L"reading %s at %d", L"a.mp4", 42), S_OK);
  EXPECT_EQ(KvErrorHandler_DetailsAddString(0x8004E008, L"plain 100 text"), S_OK);
  HRESULT last = 0;
  int count = 0;
  DWORD thread = 0;
  const wchar_t* details = KvErrorHandler_DetailsInfo(&last, &count, &thread);
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(std::wstring(details), L"reading a.mp4 at 42\r\nplain 100 text\r\n");
  EXPECT_EQ(last, static_cast<HRESULT>(0x8004E008));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(thread, GetCurrentThreadId());
  EXPECT_EQ(KvErrorHandler_GetLastError(), static_cast<HRESULT>(0x8004E008));

  // Another thread may add only for the same code.
  HRESULT other = 0, same = 0;
  std::thread t([&] {
    other = KvErrorHandler_DetailsAddString(0x8004E009, L"other");
    same = KvErrorHandler_DetailsAddString(0x8004E008, L"same");
  });
  t.join();
  EXPECT_EQ(other, static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(same, S_OK);

  BSTR composed = KvErrorHandler_ComposeErrorText(6, 0x8004E008, L"b.prj");
  ASSERT_NE(composed, nullptr);
  EXPECT_EQ(std::wstring(composed),
            L"An error occurred while saving the project file b.prj." + Expected(1033, 48023) +
                L"\r\n<Details>\r\nreading a.mp4 at 42\r\nplain 100 text\r\nsame\r\n\r\n</Details>");
  SysFreeString(composed);

  // Details that would reach 16,384 bytes are refused whole.
  KvErrorHandler_DetailsInit();
  std::wstring block(4000, L'd');
  EXPECT_EQ(KvErrorHandler_DetailsAddString(1, block.c_str()), S_OK);  // 4,002 characters
  EXPECT_EQ(KvErrorHandler_DetailsAddString(1, block.c_str()), S_OK);  // 8,004
  std::wstring rest(8190 - 8004 - 2 - 1, L'e');                       // (8004 + n + 2) * 2 < 16384
  EXPECT_EQ(KvErrorHandler_DetailsAddString(1, rest.c_str()), S_OK);
  EXPECT_EQ(KvErrorHandler_DetailsAddString(1, L"x"), static_cast<HRESULT>(0x80004005));
  KvErrorHandler_DetailsInfo(nullptr, &count, nullptr);
  EXPECT_EQ(count, 3);
  // A formatted entry longer than the formatting buffer is cut there, then
  // refused whole by the limit; nothing is written past either buffer.
  KvErrorHandler_DetailsInit();
  std::wstring huge(20000, L'h');
  EXPECT_EQ(KvErrorHandler_DetailsAddString(1, L"%s!", huge.c_str()), static_cast<HRESULT>(0x80004005));
  KvErrorHandler_DetailsInfo(nullptr, &count, nullptr);
  EXPECT_EQ(count, 0);
  std::wstring fits(8000, L'f');
  EXPECT_EQ(KvErrorHandler_DetailsAddString(1, L"<%s>", fits.c_str()), S_OK);
  EXPECT_EQ(wcslen(KvErrorHandler_DetailsInfo(nullptr, nullptr, nullptr)), 8004u);
  KvErrorHandler_DetailsInit();
  BSTR plain = KvErrorHandler_ComposeErrorText(0, 0x8004E00A, nullptr);
  EXPECT_EQ(std::wstring(plain), Expected(1033, 48160) + Expected(1033, 48074));
  SysFreeString(plain);
}

// What a hook saw.
struct Seen {
  int calls = 0;
  std::wstring text, caption;
  UINT type = 0;
};
Seen g_seen;
DWORD __stdcall RecordingHook(void* answer, HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
  ++g_seen.calls;
  g_seen.text = text ? text : L"<null>";
  g_seen.caption = caption ? caption : L"<null>";
  g_seen.type = type;
  return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(answer));
}

TEST(KvErrorMsgBox, ShowsTheComposedMessageWithDetailsAndClearsTheState) {
  Library lib;
  lib.Use(1033);
  KvMsgBoxSetAppData(nullptr, nullptr, L"Test Host");
  ASSERT_TRUE(KvMsgBoxSetHook(RecordingHook, reinterpret_cast<void*>(6)));

  g_seen = Seen();
  EXPECT_EQ(KvErrorHandler_MsgBox(nullptr, 0x30, 0, 0x8004E00C, nullptr, FALSE), 1);
  EXPECT_EQ(g_seen.calls, 0);

  KvErrorHandler_DetailsInit();
  EXPECT_EQ(KvErrorHandler_MsgBox(nullptr, 0x34, 7, 0x8004E009, L"c.m4a", FALSE), 6);
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.text, L"An error occurred while creating the media file c.m4a." + Expected(1033, 48022));
  EXPECT_EQ(g_seen.caption, L"Test Host");
  EXPECT_EQ(g_seen.type, 0x34u);

  KvErrorHandler_DetailsAddString(0x8004E009, L"wrote %d of %d bytes", 10, 20);
  EXPECT_EQ(KvErrorHandler_MsgBox(nullptr, 0x30 | 0x4000, 7, 0x8004E009, L"c.m4a", TRUE), 6);
  EXPECT_EQ(g_seen.text, L"Warning: An error occurred while creating the media file c.m4a." + Expected(1033, 48022) +
                             L"\r\n<Details>\r\nwrote 10 of 20 bytes\r\n\r\n</Details>");
  EXPECT_EQ(g_seen.type, 0xC030u);
  int count = -1;
  KvErrorHandler_DetailsInfo(nullptr, &count, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(KvErrorHandler_GetLastError(), S_OK);
  // Without details the details bits are cleared.
  EXPECT_EQ(KvErrorHandler_MsgBoxText(nullptr, 0xC010, L"plain", FALSE), 6);
  EXPECT_EQ(g_seen.text, L"plain");
  EXPECT_EQ(g_seen.type, 0x10u);
  KvMsgBoxSetHook(nullptr, nullptr);
}

void __declspec(noinline) Marker() { asm volatile(""); }

// An address as the dump prints it: pointer-wide upper-case hex.
std::string Hex(const void* p) {
  std::string s(2 * sizeof(void*), '0');
  UINT_PTR v = reinterpret_cast<UINT_PTR>(p);
  for (size_t i = s.size(); i-- > 0; v >>= 4) s[i] = "0123456789ABCDEF"[v & 15];
  return s;
}

TEST(KvErrorDump, ExceptionRecordSectionsAndHexLines) {
  CONTEXT ctx = {};
  ctx.ContextFlags = CONTEXT_FULL;
  RtlCaptureContext(&ctx);
  EXCEPTION_RECORD rec = {};
  rec.ExceptionCode = 0xC0000005;
  rec.ExceptionAddress = reinterpret_cast<void*>(&Marker);
  rec.NumberParameters = 2;
  rec.ExceptionInformation[0] = 1;
  rec.ExceptionInformation[1] = 0x1234;
#ifdef _WIN64
  ctx.Rip = reinterpret_cast<DWORD64>(&Marker);
#else
  ctx.Eip = reinterpret_cast<DWORD>(&Marker);
#endif
  EXCEPTION_POINTERS pointers = {&rec, &ctx};
  static char buffer[8192];
  int n = KvErrorHandler_DumpExceptionRecord(buffer, sizeof(buffer), "worker", &pointers, 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(static_cast<size_t>(n), strlen(buffer));
  std::string dump(buffer);
  // Addresses and stack words are pointer-sized hex.
  const std::string word = "[0-9A-Fa-f]{" + std::to_string(2 * sizeof(void*)) + "}";
  EXPECT_TRUE(std::regex_search(dump, std::regex("^Exception 0xC0000005 \\(access violation\\) WRITE:0x0*1234 "
                                                 "IP:0x" + word + "\r\n")))
      << dump;
  EXPECT_TRUE(std::regex_search(dump, std::regex("\r\nIn Module 'kvbasesys_error_tests.exe' at Address 0x[0-9A-Fa-f]+ "
                                                 "\\+ 0x[0-9A-Fa-f]+\r\n")))
      << dump;
  char thread[64];
  sprintf(thread, "Thread: worker ID=0x%X Stack=0x", static_cast<unsigned>(GetCurrentThreadId()));
  EXPECT_NE(dump.find(thread), std::string::npos) << dump;
#ifdef _WIN64
  EXPECT_TRUE(std::regex_search(dump, std::regex("Registers:\r\n RAX=[0-9a-f]{16} CS=[0-9a-f]{4} RIP=[0-9a-f]{16} "
                                                 "EFLGS=[0-9a-f]{8}\r\n RBX=")))
      << dump;
#else
  EXPECT_TRUE(std::regex_search(dump, std::regex("Registers:\r\n EAX=[0-9a-f]{8} CS=[0-9a-f]{4} EIP=[0-9a-f]{8} "
                                                 "EFLGS=[0-9a-f]{8}\r\n EBX=")))
      << dump;
#endif
  EXPECT_NE(dump.find("Bytes at CS:EIP:\r\n "), std::string::npos);
  EXPECT_TRUE(std::regex_search(dump, std::regex("Stack Dump:\r\n " + word + ": " + word + " "))) << dump;
  for (size_t at = 0; (at = dump.find('\n', at)) != std::string::npos; ++at) ASSERT_EQ(dump[at - 1], '\r');

  // Sections chosen one at a time; a small buffer stops 50 characters short.
  n = KvErrorHandler_DumpExceptionRecord(buffer, sizeof(buffer), nullptr, &pointers, KV_DUMP_EXCEPTION);
  EXPECT_EQ(std::string(buffer).find("In Module"), std::string::npos);
  n = KvErrorHandler_DumpExceptionRecord(buffer, 120, nullptr, &pointers, 0);
  EXPECT_LE(n, 120 - 50);

  const unsigned char bytes[] = {'A', 'b', 0, 0xFF, ' ', '~', 0x7F, '1', '2'};
  n = KvErrorHandler_DumpHex(buffer, sizeof(buffer), bytes, 9);
  char want[200];
  sprintf(want, " %s: 41 62 00 FF 20 7E 7F 31 Ab.. ~.1\r\n %s: 32                      2\r\n", Hex(bytes).c_str(),
          Hex(bytes + 8).c_str());
  EXPECT_STREQ(buffer, want);
  const DWORD words[] = {0x12345678, 0xDEADBEEF, 1, 2, 3};
  n = KvErrorHandler_DumpHexDWords(buffer, sizeof(buffer), words, 5);
  sprintf(want, " %s: 12345678 DEADBEEF 00000001 00000002 \r\n %s: 00000003 \r\n", Hex(words).c_str(),
          Hex(words + 4).c_str());
  EXPECT_STREQ(buffer, want);
  EXPECT_EQ(KvErrorHandler_DumpHexDWords(buffer, sizeof(buffer), words, 0), 0);
  EXPECT_EQ(KvErrorHandler_DumpHex(buffer, 60, bytes, 9), 0);  // no line fits 50 short of the end
}

// A real access violation on a worker thread: a vectored handler dumps the
// record and ends the thread.
char g_faultDump[4096];
void __stdcall EndFaultingThread() { ExitThread(0); }
LONG CALLBACK DumpAndLeave(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != 0xC0000005) return EXCEPTION_CONTINUE_SEARCH;
  KvErrorHandler_DumpExceptionRecord(g_faultDump, sizeof(g_faultDump), "faulting", pointers, 0);
#ifdef _WIN64
  pointers->ContextRecord->Rip = reinterpret_cast<DWORD64>(&EndFaultingThread);
#else
  pointers->ContextRecord->Eip = reinterpret_cast<DWORD>(&EndFaultingThread);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}
volatile UINT_PTR g_badAddress = 16;
DWORD WINAPI WriteToAddress16(void*) {
  *reinterpret_cast<volatile int*>(g_badAddress) = 1;
  return 0;
}

TEST(KvErrorDump, ProvokedAccessViolation) {
  void* handler = AddVectoredExceptionHandler(1, DumpAndLeave);
  ASSERT_NE(handler, nullptr);
  g_faultDump[0] = 0;
  HANDLE thread = CreateThread(nullptr, 0, WriteToAddress16, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  RemoveVectoredExceptionHandler(handler);
  std::string dump(g_faultDump);
  const std::string word = "[0-9A-F]{" + std::to_string(2 * sizeof(void*)) + "}";
  EXPECT_TRUE(std::regex_search(dump, std::regex("^Exception 0xC0000005 \\(access violation\\) WRITE:0x0*10 "
                                                 "IP:0x" + word + "\r\nIn Module 'kvbasesys_error_tests.exe' at ")))
      << dump;
  EXPECT_NE(dump.find("Thread: faulting ID=0x"), std::string::npos) << dump;
  EXPECT_NE(dump.find("Stack Dump:\r\n"), std::string::npos) << dump;
  // The stack shows a return address into a loaded module.
  EXPECT_TRUE(std::regex_search(dump, std::regex(word + "  " + word + " \\+ [0-9A-F]+ \\([^)]+\\.(exe|dll)\\)")))
      << dump;
}

TEST(KvErrorDump, ExceptionFilterReportsThroughTheMessageBox) {
  Library lib;
  lib.Use(1033);
  KvMsgBoxSetAppData(nullptr, nullptr, L"Crashing Host");
  ASSERT_TRUE(KvMsgBoxSetHook(RecordingHook, reinterpret_cast<void*>(1)));
  CONTEXT ctx = {};
  RtlCaptureContext(&ctx);
  EXCEPTION_RECORD rec = {};
  rec.ExceptionCode = 0xC0000094;
  rec.ExceptionAddress = reinterpret_cast<void*>(&Marker);
  EXCEPTION_POINTERS pointers = {&rec, &ctx};
  g_seen = Seen();
  EXPECT_EQ(KvErrorHandler_ExceptionFilter(&pointers, "main"), EXCEPTION_EXECUTE_HANDLER);
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.text.find(L"An error occurred during the current operation." + Expected(1033, 48041) +
                             L"\r\n<Details>\r\nCrashing Host\r\nException 0xC0000094 (integer divide by zero)"),
            0u)
      << std::string(g_seen.text.begin(), g_seen.text.end());
  EXPECT_EQ(g_seen.type & 0xC0F0u, 0xC030u);
  rec.ExceptionCode = 0x80000002;
  g_seen = Seen();
  EXPECT_EQ(KvErrorHandler_ExceptionFilter(&pointers, "main"), EXCEPTION_CONTINUE_SEARCH);
  EXPECT_EQ(g_seen.calls, 0);
  KvMsgBoxSetHook(nullptr, nullptr);
}

}  // namespace
