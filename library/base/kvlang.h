// Language handle and string lookup. Every module that shows text opens one
// HKVLANG: it decides from which module (the satellite "<module>.LNG" or the
// module itself) and in which language resources are taken, and caches the
// strings it has loaded so that KvGetString hands out stable pointers. Also
// the process-wide locale settings (the international record) and the user's
// language choice in the registry.
#pragma once

#include "kvapi.h"

typedef struct KvLangHandle* HKVLANG;

// The process-wide international record (796 bytes), as copied out by
// KvLang_GetInternationals. Each text field is followed by its length.
#pragma pack(push, 4)
typedef struct KVINTERNATIONALS {
  DWORD recordSize;
  LCID systemLCID;
  DWORD languageId;
  wchar_t languageName[64];
  DWORD languageNameLength;
  wchar_t englishLanguageName[64];
  DWORD englishLanguageNameLength;
  DWORD countryCode;
  wchar_t countryName[64];
  DWORD countryNameLength;
  wchar_t englishCountryName[64];
  DWORD englishCountryNameLength;
  wchar_t negativeSign[8];
  DWORD negativeSignLength;
  wchar_t minusSign[8];
  DWORD minusSignLength;
  wchar_t thousandSeparator[8];
  DWORD thousandSeparatorLength;
  wchar_t decimalSeparator[8];
  DWORD decimalSeparatorLength;
  DWORD grouping;
  DWORD fractionDigits;
  DWORD leadingZero;
  wchar_t timeSeparator[8];
  DWORD timeSeparatorLength;
  wchar_t listSeparator[8];
  DWORD listSeparatorLength;
  DWORD measurementSystem;
  wchar_t smpteWholeSeparator[8];
  DWORD smpteWholeSeparatorLength;
  wchar_t smpteNonDropSeparator[8];
  DWORD smpteNonDropSeparatorLength;
  wchar_t smpteDropSeparator[8];
  DWORD smpteDropSeparatorLength;
  wchar_t languageAbbreviation[4];
  DWORD languageAbbreviationLength;
  wchar_t measureBeatSeparator[8];
  DWORD measureBeatSeparatorLength;
  wchar_t beatTickSeparator[8];
  DWORD beatTickSeparatorLength;
  DWORD reserved;
} KVINTERNATIONALS;
#pragma pack(pop)

// KvGetInat ids.
#define KVINAT_SYSTEM_LCID 0
#define KVINAT_LANGUAGE_ID 1
#define KVINAT_LANGUAGE_NAME 2
#define KVINAT_ENGLISH_LANGUAGE_NAME 3
#define KVINAT_COUNTRY_CODE 4
#define KVINAT_DECIMAL_SEPARATOR 24
#define KVINAT_LIST_SEPARATOR 40
#define KVINAT_TIME_SEPARATOR 60
#define KVINAT_SMPTE_WHOLE 100
#define KVINAT_SMPTE_NONDROP 101
#define KVINAT_SMPTE_DROP 102
#define KVINAT_MEASURE_BEAT 120
#define KVINAT_BEAT_TICK 121

// Library string ids of the separator labels registered as format tokens.
#define IDS_KV_SMPTE_LABEL 48379
#define IDS_KV_SMPTE_LABEL_FULL 48380
#define IDS_KV_MUSICTIME_LABEL 48381
#define IDS_KV_MUSICTIME_LABEL_FULL 48382

KV_EXTERN_C_BEGIN

// Handle lifetime and language.
HRESULT KVAPI KvLang_Open(HKVLANG* out, HMODULE module, LCID lcid, DWORD scratchChars);
HRESULT KVAPI KvLang_Close(HKVLANG lang);
BOOL KVAPI KvLang_UpdateKernelLCID(HKVLANG lang, LCID lcid, DWORD reserved);
BOOL KVAPI KvLang_ChangeLangInst(HKVLANG lang, HMODULE satellite);
HMODULE KVAPI KvLang_InstFromLang(HKVLANG lang);
LCID KVAPI KvLang_GetLCID(HKVLANG lang);
BOOL KVAPI KvLang_IsLCIDEnglish(LCID lcid);
LCID KVAPI KvLang_GetConditionedLCID(LCID lcid);
BOOL KVAPI KvLang_UseRTL(HKVLANG lang);
void KVAPI KvLang_EnableProcessMirroring(void);
void KVAPI KvLang_DisableProcessMirroring(void);
BOOL KVAPI KvLang_IsNameOrderReversed(HKVLANG lang);
int KVAPI KvLang_LocalizeUserName(HKVLANG lang, const wchar_t* first, const wchar_t* last, wchar_t* out, int cch);
BOOL KVAPI KvLang_GetLangAbbrev(HKVLANG lang, wchar_t* out, int cch);
int KVAPI KvSetLangID(const wchar_t* abbrev);
void KVAPI KvLang_UpdateThreadLocale(HKVLANG lang);
int KVAPI KvEnumResourceLanguages(HKVLANG lang, WORD id, wchar_t* out, int cch);
BOOL KVAPI KvLang_LoadUserLCIDMetric(const wchar_t* app, DWORD version, DWORD* langId);
BOOL KVAPI KvLang_SaveUserLCIDMetric(const wchar_t* app, DWORD version, WORD langId);

// Strings. KvGetString never returns null; its pointer stays valid until the
// handle's language changes or the handle is closed.
int KVAPI KvLoadString(HKVLANG lang, UINT id, wchar_t* buf, int cch);
const wchar_t* KVAPI KvGetString(HKVLANG lang, UINT id);
const wchar_t* KVAPI KvGetMenuString(HKVLANG lang, UINT id);
wchar_t* KVAPI KvGetTempStringBuffer(HKVLANG lang, int cch);
char* KVAPI KvGetMultiByteFromPrintString(HKVLANG lang, const wchar_t* text);
wchar_t* KVAPI KvGetPrintFromMultiByteString(HKVLANG lang, const char* text);
const wchar_t* KVAPI KvGetWideFromPrintString(HKVLANG lang, const wchar_t* text);
const wchar_t* KVAPI KvGetPrintFromWideString(HKVLANG lang, const wchar_t* text);

// Locale settings.
int KVAPI KvLang_GetInternationals(void* out, DWORD size);
int KVAPI KvGetInat(int id, wchar_t* out);

// ---- Library-internal (not exported) ----

// The library's own language handle: opened by the library's initialisation
// with KvLang_Open(&h, module, 0, 0) and recorded here with
// KvLang_SetLibraryHandle(h); closed at termination (KvLang_Close of
// KvLang_GetLibraryHandle(), then KvLang_SetLibraryHandle(NULL)). Every
// library text is looked up through it.
HKVLANG KVAPI KvLang_GetLibraryHandle(void);
void KVAPI KvLang_SetLibraryHandle(HKVLANG lang);

// Called at the end of every reload of the international record
// (KvLang_GetInternationals(NULL, 0)) to (re)register the separator tokens of
// the format engine ("SMPTE.Whole" ... "MusicTime.Label.Full"). The format
// engine defines it; kvlang_tokens_default.cpp holds an empty stand-in.
void KVAPI KvLang_RegisterSeparatorTokens(const KVINTERNATIONALS* record);

// The decimal-separator rule of the reload: when the decimal separator starts
// with the thousand separator it becomes "," (thousand separator starting with
// '.') or ".". Returns the new length.
DWORD KVAPI KvLang_FixDecimalSeparator(wchar_t* decimal, DWORD decimalLength, const wchar_t* thousand,
                                       DWORD thousandLength);

// The handle's modules for the resource loaders: its own module, its
// satellite (the module itself when no "LNG" file exists) and whether the
// satellite is active. FALSE for a null handle.
BOOL KVAPI KvLang_GetModules(HKVLANG lang, HMODULE* module, HMODULE* satellite, BOOL* satelliteActive);

KV_EXTERN_C_END
