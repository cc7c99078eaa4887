// Library initialisation and system queries: processor answers against the
// host's /proc/cpuinfo (read through Wine's Z: drive), the mask and class
// rules, and the operating-system rules on made-up version records.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kvkernel.h"
#include "kvprintf.h"
#include "text_locale.h"
#include "vog_exports.h"

namespace {

struct CpuInfo {
  bool ok = false;
  std::string vendor;
  std::set<std::string> flags;
  int processors = 0;
};

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

CpuInfo ReadCpuInfo() {
  CpuInfo info;
  FILE* f = _wfopen(L"Z:\\proc\\cpuinfo", L"rb");
  if (!f) return info;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = Trim(line.substr(0, colon)), value = Trim(line.substr(colon + 1));
    if (key == "processor") ++info.processors;
    if (info.processors > 1) continue;  // the first processor's description
    if (key == "vendor_id") info.vendor = value;
    if (key == "flags") {
      std::istringstream words(value);
      std::string w;
      while (words >> w) info.flags.insert(w);
    }
  }
  info.ok = !info.vendor.empty() && !info.flags.empty();
  return info;
}

std::string Narrow(const wchar_t* w) {
  std::string s;
  for (; *w; ++w) s += static_cast<char>(*w);
  return s;
}

DWORD Mxcsr() {
  DWORD v;
  __asm__ __volatile__("stmxcsr %0" : "=m"(v));
  return v;
}

}  // namespace

// Runs first in this program: the detection leaves the thread's SSE control
// word as it found it (the host's loader thread keeps its own setting).
TEST(Cpu, DetectionKeepsTheControlWord) {
  DWORD before = Mxcsr();
  KvGetCPUSupport(0);
  EXPECT_EQ(Mxcsr(), before);
  EXPECT_EQ(KvGetCPUSupportRaw(KVCPU_FTZ_DAZ), static_cast<DWORD>(KVCPU_FTZ_DAZ));
  EXPECT_EQ(KvGetCPUSupport(KVCPU_FTZ_DAZ), static_cast<DWORD>(KVCPU_FTZ_DAZ));
}

TEST(Cpu, AgreesWithProcCpuinfo) {
  CpuInfo info = ReadCpuInfo();
  if (!info.ok) GTEST_SKIP() << "Z:\\proc\\cpuinfo not readable";
  wchar_t vendor[13], brand[49];
  ASSERT_EQ(KvGetCPUVendorString(vendor, 13), S_OK);
  EXPECT_EQ(Narrow(vendor), info.vendor);
  // The brand string is printable text; it is not compared with the kernel's
  // model name, which may differ under a hypervisor.
  ASSERT_EQ(KvGetCPUBrandString(brand, 49), S_OK);
  for (const wchar_t* c = brand; *c; ++c) EXPECT_TRUE(*c >= 32 && *c < 127) << "character " << (c - brand);
  struct Bit {
    DWORD bit;
    const char* flag;
  } bits[] = {{KVCPU_MMX, "mmx"},     {KVCPU_SSE, "sse"},       {KVCPU_SSE2, "sse2"},    {KVCPU_SSE3, "pni"},
              {KVCPU_SSSE3, "ssse3"}, {KVCPU_SSE41, "sse4_1"}, {KVCPU_SSE42, "sse4_2"}, {KVCPU_CMOV, "cmov"},
              {KVCPU_TSC, "tsc"}};
  for (const Bit& b : bits)
    EXPECT_EQ(KvGetCPUSupportRaw(b.bit) != 0, info.flags.count(b.flag) != 0) << b.flag;
  // Usable: on this system SSE state is saved, so what the processor has of
  // MMX, SSE, SSE2 and SSE3 is usable; the SSE4 bits never are.
  EXPECT_EQ(KvGetCPUSupport(KVCPU_SSE) != 0, info.flags.count("sse") != 0);
  EXPECT_EQ(KvGetCPUSupport(KVCPU_SSE2) != 0, info.flags.count("sse2") != 0);
  EXPECT_EQ(KvGetCPUSupport(KVCPU_SSE3) != 0, info.flags.count("pni") != 0);
  EXPECT_EQ(KvGetCPUSupport(KVCPU_SSE41 | KVCPU_SSE42 | KVCPU_SSSE3), 0u);
  if (info.flags.count("sse2") && info.flags.count("cmov") && info.flags.count("fpu")) {
    EXPECT_EQ(KvGetCPUSupport(KVCPU_CLASS_MASK), 6u);
  }
  EXPECT_EQ(KvGetOSSupport(KVCPU_SSE | KVCPU_SSE41), static_cast<DWORD>(KVCPU_SSE | KVCPU_SSE41));
  EXPECT_EQ(static_cast<int>(KvGetProcessorCount()), info.processors);
  EXPECT_GE(KvGetCPUIDMaxLevel(), 1);
}

TEST(Cpu, BufferSizesAndFourCC) {
  wchar_t buf[64] = L"untouched";
  EXPECT_EQ(KvGetCPUVendorString(buf, 12), E_FAIL);
  EXPECT_STREQ(buf, L"untouched");
  EXPECT_EQ(KvGetCPUBrandString(buf, 48), E_FAIL);
  EXPECT_STREQ(buf, L"untouched");
  wchar_t four[5];
  KvFourCCToStringCPU(0x41424344, four);
  EXPECT_STREQ(four, L"DCBA");
  KvFourCCToStringCPU(0x41420143, four);
  EXPECT_EQ(four[0], L'C');
  EXPECT_EQ(four[1], 0);
}

TEST(Cpu, AllowedMaskAndClass) {
  DWORD all = KvGetCPUSupport(0);
  EXPECT_FALSE(KvOnlyAllowCPUSupport(0x1000));
  EXPECT_EQ(KvGetCPUSupport(0), all);
  EXPECT_TRUE(KvOnlyAllowCPUSupport(0x30));
  EXPECT_EQ(KvGetCPUSupport(0xFF0), all & 0x30);
  EXPECT_EQ(KvGetCPUSupport(KVCPU_TSC), all & KVCPU_TSC);  // outside the 0xFF0 field
  EXPECT_TRUE(KvAllowCPUSupport(0xFF0));
  EXPECT_EQ(KvGetCPUSupport(0), all);
  EXPECT_TRUE(KvDisallowCPUSupport(KVCPU_SSE));
  EXPECT_EQ(KvGetCPUSupport(KVCPU_SSE), 0u);
  EXPECT_TRUE(KvSetCPUClassBySupport());
  // Class from the allowed mask: MMX and SSE2 still allowed, SSE not: 6 wins.
  EXPECT_EQ(KvGetCPUSupport(KVCPU_SSE) & ~KVCPU_CLASS_MASK, 0u);
  EXPECT_EQ(KvGetCPUSupport(KVCPU_SSE), 6u);
  EXPECT_TRUE(KvDisallowCPUSupport(KVCPU_SSE2));
  EXPECT_TRUE(KvSetCPUClassBySupport());
  EXPECT_EQ(KvGetCPUSupport(0x10000000), 4u);
  EXPECT_TRUE(KvDisallowCPUSupport(KVCPU_MMX));
  EXPECT_TRUE(KvSetCPUClassBySupport());
  EXPECT_EQ(KvGetCPUSupport(0x10000000), 0u);
  EXPECT_TRUE(KvAllowCPUSupport(0xFFFFFFFF));
  EXPECT_EQ(KvGetCPUSupport(0), all);
}

namespace {
OSVERSIONINFOW Version(DWORD platform, DWORD major, DWORD minor, const wchar_t* csd = L"") {
  OSVERSIONINFOW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  v.dwPlatformId = platform;
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  wcsncpy(v.szCSDVersion, csd, 127);
  return v;
}
const DWORD k9x = VER_PLATFORM_WIN32_WINDOWS, kNT = VER_PLATFORM_WIN32_NT;
}  // namespace

TEST(OS, Names) {
  struct Case {
    OSVERSIONINFOW v;
    const wchar_t* name;
    BOOL known;
  } cases[] = {
      {Version(k9x, 4, 0), L"Windows 95", TRUE},     {Version(k9x, 3, 10), L"Windows 95", TRUE},
      {Version(k9x, 4, 90), L"Windows Me", TRUE},    {Version(k9x, 4, 10, L" A "), L"Windows 98 SE", TRUE},
      {Version(k9x, 4, 10), L"Windows 98", TRUE},    {Version(kNT, 6, 1), L"Windows Vista", TRUE},
      {Version(kNT, 10, 0), L"Windows Vista", TRUE}, {Version(kNT, 5, 0), L"Windows 2000", TRUE},
      {Version(kNT, 5, 1), L"Windows XP", TRUE},     {Version(kNT, 4, 0), L"Windows NT", TRUE},
      {Version(3, 1, 0), L"Unknown", FALSE},
  };
  for (const Case& c : cases) {
    wchar_t buf[32];
    EXPECT_EQ(KvKernel_OSName(c.v, buf, 32), c.known) << c.v.dwMajorVersion << "." << c.v.dwMinorVersion;
    EXPECT_STREQ(buf, c.name);
  }
  wchar_t small[8];
  KvKernel_OSName(Version(kNT, 6, 0), small, 8);
  EXPECT_STREQ(small, L"Windows");
}

TEST(OS, VersionLevels) {
  EXPECT_TRUE(KvKernel_OSVersionOK(Version(kNT, 6, 0), 7, 0));
  EXPECT_TRUE(KvKernel_OSVersionOK(Version(kNT, 10, 0), 7, 0));
  EXPECT_FALSE(KvKernel_OSVersionOK(Version(kNT, 5, 1), 7, 0));
  EXPECT_FALSE(KvKernel_OSVersionOK(Version(k9x, 4, 90), 7, 0));
  EXPECT_TRUE(KvKernel_OSVersionOK(Version(kNT, 5, 1, L"Service Pack 2"), 6, 2));
  EXPECT_FALSE(KvKernel_OSVersionOK(Version(kNT, 5, 1, L"Service Pack 1"), 6, 2));
  EXPECT_FALSE(KvKernel_OSVersionOK(Version(kNT, 5, 1), 6, 1));
  EXPECT_TRUE(KvKernel_OSVersionOK(Version(kNT, 5, 2), 6, 9));
  EXPECT_FALSE(KvKernel_OSVersionOK(Version(k9x, 4, 1), 2, 0));  // service pack forced to 1
  EXPECT_TRUE(KvKernel_OSVersionOK(Version(k9x, 4, 1), 1, 0));
  EXPECT_TRUE(KvKernel_OSVersionOK(Version(k9x, 4, 10), 2, 0));
  EXPECT_FALSE(KvKernel_OSVersionOK(Version(kNT, 6, 0), 3, 0));   // level 3: (9x, 0, 0)
  EXPECT_TRUE(KvKernel_OSVersionOK(Version(k9x, 4, 0), 3, 0));
}

TEST(OS, ThisSystem) {
  // Wine reports Windows 7 (NT 6.1).
  wchar_t name[32];
  EXPECT_TRUE(KvGetOS(name, 32));
  EXPECT_STREQ(name, L"Windows Vista");
  EXPECT_TRUE(KvOSVersionOK(7, 0));
  EXPECT_FALSE(KvIsWin95());
  EXPECT_EQ(KvKernel_UserPrefChanges(nullptr, 0x1234, 0, 0), 0x1234);
  EXPECT_EQ(KvKernel_UserPrefChanges(nullptr, WM_SYSCOLORCHANGE, 0, 0), TRUE);  // the colours' reload
  EXPECT_EQ(KvKernel_UserPrefChanges(nullptr, WM_DISPLAYCHANGE, 0, 0), 0);
  EXPECT_EQ(KvIsHighColor(), KvIsHighColorEx(TRUE));
  EXPECT_EQ(KvIsAllMonitorsHighColor(), KvIsAllMonitorsHighColorEx(TRUE));
  EXPECT_EQ(KvKernel_SetSplash(reinterpret_cast<HWND>(0x10)), reinterpret_cast<HWND>(0x10));
  KvKernel_SetSplash(nullptr);
  UINT before = SetErrorMode(0);
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  KvSetQuietErrorMode();
  EXPECT_EQ(SetErrorMode(before), static_cast<UINT>(SEM_NOGPFAULTERRORBOX | 0x8001));
}

TEST(Kernel, InitialiseAndTerminate) {
  DWORD before = Mxcsr();
  HMODULE self = GetModuleHandleW(nullptr);
  ASSERT_TRUE(KvKernel_Initialize(self, nullptr));
  EXPECT_EQ(Mxcsr(), before);
  EXPECT_EQ(KvKernel_GetModule(), self);
  EXPECT_EQ(KvKernel_GetHostModule(), self);
  EXPECT_EQ(KvKernel_GetFirstHostCursorId(), 100);
  wchar_t out[64];
  KvPrintF(out, L"$!:$&.$(SMPTE.Drop)");
  EXPECT_STREQ(out, L":.,");
  // Initialising again replaces the language handle; terminating removes the
  // tokens and the handle.
  HINSTANCE host = reinterpret_cast<HINSTANCE>(0x400000);
  ASSERT_TRUE(KvKernel_Initialize(self, host));
  EXPECT_EQ(KvKernel_GetHostModule(), host);
  EXPECT_TRUE(KvKernel_Terminate());
  EXPECT_EQ(KvKernel_GetModule(), nullptr);
  EXPECT_FALSE(KvPrintF_AddToken(L"After", L"x"));
  KvPrintF(out, L"$(SMPTE.Drop)");
  EXPECT_STREQ(out, L"$(SMPTE.Drop)");
  EXPECT_TRUE(KvKernel_Terminate());  // a second termination is harmless
  ASSERT_TRUE(KvKernel_Initialize(self, nullptr));
  KvPrintF(out, L"$(SMPTE.Drop)$d", 1000);
  EXPECT_EQ(std::wstring(out), std::wstring(KvTestGerman() ? L",1.000" : L",1,000"));
  EXPECT_TRUE(KvKernel_Terminate());
}

// The UI toolkit's hooks: the colours are loaded at start-up, freed and
// reloaded on a system colour change (whose answer is the reload's), and every
// cache is freed at termination; a display change leaves them alone.
std::vector<int> g_uiCalls;  // 1: load colours, 0: free colours, -1: free caches
BOOL KVAPI RecordColourReset(BOOL load) {
  g_uiCalls.push_back(load ? 1 : 0);
  return load ? 7 : 0;
}
void RecordCacheTeardown() { g_uiCalls.push_back(-1); }

TEST(Kernel, UiHooksAtStartColourChangeAndEnd) {
  g_uiCalls.clear();
  KvKernel_SetUiHooks(KvKernelUiHooks{RecordColourReset, RecordCacheTeardown});
  ASSERT_TRUE(KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr));
  EXPECT_EQ(g_uiCalls, std::vector<int>({1}));
  EXPECT_EQ(KvKernel_UserPrefChanges(nullptr, WM_SYSCOLORCHANGE, 0, 0), 7);
  EXPECT_EQ(KvKernel_UserPrefChanges(nullptr, WM_DISPLAYCHANGE, 0, 0), 0);
  EXPECT_EQ(g_uiCalls, std::vector<int>({1, 0, 1}));
  EXPECT_TRUE(KvKernel_Terminate());
  EXPECT_EQ(g_uiCalls, std::vector<int>({1, 0, 1, -1}));
  KvKernel_SetUiHooks(KvKernelUiHooks{nullptr, nullptr});
  ASSERT_TRUE(KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr));
  EXPECT_TRUE(KvKernel_Terminate());
  EXPECT_EQ(g_uiCalls.size(), 4u) << "no hooks, no calls";
}

template <typename T>
T Export(HMODULE dll, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName(name).c_str())));
}

// The exports of the DLL, called through their decorated names: the stack
// sizes of 64-bit and double arguments match the callers' expectations.
TEST(Kernel, ExportsThroughTheDll) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr);
  auto init = Export<BOOL(__stdcall*)(HMODULE, HINSTANCE)>(dll, "_KvKernel_Initialize@8");
  auto printf = Export<int(__cdecl*)(wchar_t*, const wchar_t*, ...)>(dll, "KvPrintF");
  auto bitrate = Export<int(__stdcall*)(LONGLONG, wchar_t*, int)>(dll, "_KvFormatBitRateText@16");
  auto dbl = Export<int(__stdcall*)(wchar_t*, double, DWORD, DWORD)>(dll, "_KvDoubleToText@20");
  auto parse = Export<LONGLONG(__stdcall*)(const wchar_t*, const void*, LONGLONG, LONGLONG, LONGLONG, DWORD,
                                                     const wchar_t**)>(dll, "_KvTextToNanoTimeToken2@40");
  auto cpu = Export<DWORD(__stdcall*)(DWORD)>(dll, "_KvGetCPUSupport@4");
  ASSERT_TRUE(init && printf && bitrate && dbl && parse && cpu);
  ASSERT_TRUE(init(dll, nullptr));
  wchar_t out[128];
  printf(out, L"%s|$d|%I64d|%.1f", L"a", 44100, 5000000000LL, 2.25);
  EXPECT_EQ(std::wstring(out), KvTestGerman() ? L"a|44.100|5000000000|2.3" : L"a|44,100|5000000000|2.3");
  bitrate(2500000, out, 128);
  EXPECT_EQ(std::wstring(out), KvTestGerman() ? L"2,5 Mbps" : L"2.5 Mbps");
  dbl(out, 1.05, 1, 0);
  EXPECT_STREQ(out, L"1.1");
  struct {
    DWORD format, sampleRate;
    double frameRate, tempo;
    LONGLONG origin;
    WORD beatUnit, beatsPerMeasure;
    DWORD ticksPerBeat;
  } fmt = {11, 44100, 25, 120, 0, 4, 4, 960};
  const wchar_t* end = nullptr;
  EXPECT_EQ(parse(L"x", &fmt, 77, 0, 1000, 4, &end), 77);
  EXPECT_EQ(parse(L"5000", &fmt, 77, -5, 1000, 4, &end), 1000);
  EXPECT_EQ(cpu(KVCPU_SSE2), KvGetCPUSupport(KVCPU_SSE2));
}
