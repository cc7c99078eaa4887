// CLog: a text log file with one line per call (level tag, optional time
// stamp and source location, then a printf-formatted message), shared by all
// threads of a process through its own lock. Past its size limit the file is
// moved to "<path>.previous" and a new one is started.
#pragma once

#include <cstdio>

#include <windows.h>

class CLog {
 public:
  // Level mask in the low bits; 0x10000 adds the time stamp, 0x20000 the
  // source location.
  typedef DWORD LOGFLAGS;
  static const LOGFLAGS kError = 1;
  static const LOGFLAGS kWarning = 2;
  static const LOGFLAGS kInfo = 4;
  static const LOGFLAGS kDebug = 8;
  static const LOGFLAGS kTimeStamp = 0x10000;
  static const LOGFLAGS kLocation = 0x20000;

  CLog();
  virtual ~CLog();
  // A copy takes the settings and, when the source is open, opens the same
  // file with its own stream and lock.
  CLog(const CLog& other);
  CLog& operator=(const CLog& other);

  HRESULT Init(const wchar_t* path, LOGFLAGS flags, int maxSize);
  HRESULT __cdecl Write(LOGFLAGS level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
  void Shutdown();
  const wchar_t* GetLogFileName();

 private:
  HRESULT OpenLocked();
  void CopySettings(const CLog& other);

  BOOL m_initialised;
  FILE* m_stream;
  LOGFLAGS m_flags;
  int m_maxSize;
  wchar_t m_path[MAX_PATH];
  wchar_t m_previousPath[MAX_PATH];
  CRITICAL_SECTION m_lock;
};
