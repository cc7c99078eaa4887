#include "kvlog.h"

#include <cstdarg>
#include <cwchar>

#include "kverror.h"
#include "kvstr.h"

namespace {

const int kMessageChars = 1024;
const wchar_t kPreviousSuffix[] = L".previous";

struct Lock {
  explicit Lock(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
  ~Lock() { LeaveCriticalSection(cs_); }
  CRITICAL_SECTION* cs_;
};

const wchar_t* FileNamePart(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L'\\' || *p == L'/') name = p + 1;
  return name;
}

}  // namespace

CLog::CLog() : m_initialised(FALSE), m_stream(nullptr), m_flags(0), m_maxSize(-1) {
  m_path[0] = 0;
  m_previousPath[0] = 0;
  InitializeCriticalSection(&m_lock);
}

CLog::~CLog() {
  if (m_stream) fclose(m_stream);
  DeleteCriticalSection(&m_lock);
}

CLog::CLog(const CLog& other) : CLog() { CopySettings(other); }

CLog& CLog::operator=(const CLog& other) {
  if (this != &other) {
    Lock lock(&m_lock);
    if (m_stream) fclose(m_stream);
    m_stream = nullptr;
    m_initialised = FALSE;
    CopySettings(other);
  }
  return *this;
}

void CLog::CopySettings(const CLog& other) {
  CLog& source = const_cast<CLog&>(other);
  Lock lock(&source.m_lock);
  m_flags = source.m_flags;
  m_maxSize = source.m_maxSize;
  KvStrCpyN(m_path, source.m_path, MAX_PATH);
  KvStrCpyN(m_previousPath, source.m_previousPath, MAX_PATH);
  if (source.m_initialised) m_initialised = SUCCEEDED(OpenLocked());
}

HRESULT CLog::OpenLocked() {
  m_stream = _wfopen(m_path, L"a+t");
  if (!m_stream) {
    m_initialised = FALSE;
    return KV_E_OPEN;
  }
  fseek(m_stream, 0, SEEK_END);
  return S_OK;
}

HRESULT CLog::Init(const wchar_t* path, LOGFLAGS flags, int maxSize) {
  Lock lock(&m_lock);
  if (!path || !flags) return E_INVALIDARG;
  // The previous-file path must fit as well.
  int length = KvStrLen(path);
  if (length + static_cast<int>(wcslen(kPreviousSuffix)) >= MAX_PATH) return E_INVALIDARG;
  if (m_stream) fclose(m_stream);
  m_stream = nullptr;
  m_initialised = FALSE;
  KvStrCpyN(m_path, path, MAX_PATH);
  KvStrCpyN(m_previousPath, path, MAX_PATH);
  KvStrCatN(m_previousPath, kPreviousSuffix, MAX_PATH);
  m_flags = flags;
  m_maxSize = maxSize;
  HRESULT hr = OpenLocked();
  if (SUCCEEDED(hr)) m_initialised = TRUE;
  return hr;
}

HRESULT __cdecl CLog::Write(LOGFLAGS level, const wchar_t* sourceFile, int line, const wchar_t* format, ...) {
  Lock lock(&m_lock);
  if (!m_initialised || !m_stream) return KV_E_NOTINITIALIZED;
  if (!(level & m_flags)) return S_OK;
  if (m_maxSize > 0 && _ftelli64(m_stream) >= m_maxSize) {
    fclose(m_stream);
    m_stream = nullptr;
    DeleteFileW(m_previousPath);
    MoveFileW(m_path, m_previousPath);
    if (FAILED(OpenLocked())) {
      m_initialised = FALSE;
      return KV_E_OPEN;
    }
  }
  const wchar_t* tag = L"????";
  switch (level) {
    case 1: tag = L"ERR "; break;
    case 2: tag = L"WARN"; break;
    case 4: tag = L"INFO"; break;
    case 8: tag = L"DBG "; break;
  }
  // The whole line is composed first and written with one call.
  wchar_t head[128];
  int n = _snwprintf(head, 127, L"%s", tag);
  if (n < 0) n = 0;
  head[n] = 0;
  if (m_flags & kTimeStamp) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    int k = _snwprintf(head + n, 127 - n, L" %02d-%02d-%02d %02d:%02d:%02d ", t.wYear, t.wMonth, t.wDay, t.wHour,
                       t.wMinute, t.wSecond);
    if (k > 0) n += k;
    head[n] = 0;
  }
  wchar_t location[MAX_PATH + 32] = L"";
  if (m_flags & kLocation) {
    _snwprintf(location, MAX_PATH + 31, L"%15s(%4d): ", FileNamePart(sourceFile ? sourceFile : L""), line);
    location[MAX_PATH + 31] = 0;
  }
  wchar_t message[kMessageChars];
  message[0] = 0;
  if (format) {
    va_list args;
    va_start(args, format);
    int m = _vsnwprintf(message, kMessageChars - 1, format, args);
    va_end(args);
    if (m < 0 || m > kMessageChars - 1) m = kMessageChars - 1;
    message[m] = 0;
  }
  fputws(head, m_stream);
  fputws(location, m_stream);
  fputws(message, m_stream);
  fputws(L"\n", m_stream);
  fflush(m_stream);
  return S_OK;
}

void CLog::Shutdown() {
  Lock lock(&m_lock);
  m_initialised = FALSE;
  if (m_stream) fclose(m_stream);
  m_stream = nullptr;
}

const wchar_t* CLog::GetLogFileName() { return m_path; }
