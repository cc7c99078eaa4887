// Every named result code of the system, each value under one name.
//
// The standard COM codes come from the platform headers on Windows and are
// declared here with the same values for the native build. The system's own
// codes use facility 4 (FACILITY_ITF) with the numbers 0xE000 and up; the
// error handler's built-in table maps them to their user-facing texts.
#pragma once

#include "kvportable.h"

#ifndef _WIN32
#define MAKE_KV_HRESULT(v) static_cast<HRESULT>(static_cast<uint32_t>(v))
#define S_OK MAKE_KV_HRESULT(0x00000000u)
#define S_FALSE MAKE_KV_HRESULT(0x00000001u)
#define E_NOTIMPL MAKE_KV_HRESULT(0x80004001u)
#define E_NOINTERFACE MAKE_KV_HRESULT(0x80004002u)
#define E_POINTER MAKE_KV_HRESULT(0x80004003u)
#define E_ABORT MAKE_KV_HRESULT(0x80004004u)
#define E_FAIL MAKE_KV_HRESULT(0x80004005u)
#define E_UNEXPECTED MAKE_KV_HRESULT(0x8000FFFFu)
#define E_ACCESSDENIED MAKE_KV_HRESULT(0x80070005u)
#define E_HANDLE MAKE_KV_HRESULT(0x80070006u)
#define E_OUTOFMEMORY MAKE_KV_HRESULT(0x8007000Eu)
#define E_INVALIDARG MAKE_KV_HRESULT(0x80070057u)
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#endif  // !_WIN32

// Success codes.
inline constexpr HRESULT KV_S_NOCONTROL = static_cast<HRESULT>(0x0004E001u);   // no window to measure: nothing done
inline constexpr HRESULT KV_S_READERAFTERFAILURE = static_cast<HRESULT>(0x0004E016u);  // a later reader took the file
inline constexpr HRESULT KV_S_READATEND = static_cast<HRESULT>(38);            // a stream read at or past its end

// Failures.
inline constexpr HRESULT KV_E_UNSUPPORTEDMEDIA = static_cast<HRESULT>(0x8004E000u);  // media type refused
inline constexpr HRESULT KV_E_DISKFULL = static_cast<HRESULT>(0x8004E002u);
inline constexpr HRESULT KV_E_BUSY = static_cast<HRESULT>(0x8004E005u);              // the system is busy
inline constexpr HRESULT KV_E_CREATE = static_cast<HRESULT>(0x8004E006u);            // file could not be created
inline constexpr HRESULT KV_E_OPEN = static_cast<HRESULT>(0x8004E007u);              // file could not be opened
inline constexpr HRESULT KV_E_READ = static_cast<HRESULT>(0x8004E008u);              // read failed or came up short
inline constexpr HRESULT KV_E_WRITE = static_cast<HRESULT>(0x8004E009u);             // write failed or came up short
inline constexpr HRESULT KV_E_NOTFOUND = static_cast<HRESULT>(0x8004E00Au);          // item, chunk or value absent
inline constexpr HRESULT KV_E_CORRUPT = static_cast<HRESULT>(0x8004E00Bu);           // malformed data
inline constexpr HRESULT KV_E_CANCELLED = static_cast<HRESULT>(0x8004E00Cu);
inline constexpr HRESULT KV_E_BADFILENAME = static_cast<HRESULT>(0x8004E00Du);
inline constexpr HRESULT KV_E_MISSINGRESOURCE = static_cast<HRESULT>(0x8004E00Eu);
inline constexpr HRESULT KV_E_UNSUPPORTEDFILE = static_cast<HRESULT>(0x8004E016u);   // no reader for the format
inline constexpr HRESULT KV_E_EXCEPTION = static_cast<HRESULT>(0x8004E017u);
inline constexpr HRESULT KV_E_NOTINITIALIZED = static_cast<HRESULT>(0x8004E01Bu);
inline constexpr HRESULT KV_E_VERSION = static_cast<HRESULT>(0x8004E01Cu);           // unsupported version
inline constexpr HRESULT KV_E_TOOMANYOPENFILES = static_cast<HRESULT>(0x8004E026u);
inline constexpr HRESULT KV_E_FILEEXISTS = static_cast<HRESULT>(0x8004E032u);        // cannot create: name taken
inline constexpr HRESULT KV_E_FILETYPENOTSUPPORTED = static_cast<HRESULT>(0x8004E033u);
inline constexpr HRESULT KV_E_STREAMREAD = static_cast<HRESULT>(0x8004E038u);        // short read from a stream
inline constexpr HRESULT KV_E_TOOBIG = static_cast<HRESULT>(0x8004E03Au);            // past the format's maximum size
inline constexpr HRESULT KV_E_BUFFERTOOSMALL = static_cast<HRESULT>(0x8004E03Cu);
inline constexpr HRESULT KV_E_PLUGINNOTINITIALIZED = static_cast<HRESULT>(0x8004E047u);
inline constexpr HRESULT KV_E_SHARINGVIOLATION = static_cast<HRESULT>(0x8004E05Au);  // file open elsewhere
inline constexpr HRESULT KV_E_INVALIDLINK = static_cast<HRESULT>(0x8004E05Du);       // not a valid project link
inline constexpr HRESULT KV_E_NORIFF = static_cast<HRESULT>(0x8004E080u);            // RIFF header missing
inline constexpr HRESULT KV_E_NOLIST = static_cast<HRESULT>(0x8004E081u);            // LIST header missing
inline constexpr HRESULT KV_E_ZEROLENGTH = static_cast<HRESULT>(0x8004E082u);        // chunk of length 0
inline constexpr HRESULT KV_E_BADLENGTH = static_cast<HRESULT>(0x8004E083u);         // length or header size out of range
inline constexpr HRESULT KV_E_READERREFUSED = static_cast<HRESULT>(0x8004E086u);     // the chosen reader refused the file
inline constexpr HRESULT KV_E_DUPLICATE = static_cast<HRESULT>(0x8004E0A9u);         // item already present
inline constexpr HRESULT KV_E_NOTADMIN = static_cast<HRESULT>(0x8004E142u);
inline constexpr HRESULT KV_E_FILESINUSE = static_cast<HRESULT>(0x8004E16Eu);
inline constexpr HRESULT KV_E_ALREADYEXISTS = static_cast<HRESULT>(0x8004E170u);
inline constexpr HRESULT KV_E_DESTUNDERSOURCE = static_cast<HRESULT>(0x8004E186u);   // destination inside the source
inline constexpr HRESULT KV_E_INVALIDDRIVE = static_cast<HRESULT>(0x800404B0u);
inline constexpr HRESULT KV_E_FILENAMETOOLONG = static_cast<HRESULT>(0x800700CEu);   // Win32 error 206 as a result
