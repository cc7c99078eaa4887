// The surrogate process: a separate program that hosts the plug-ins that must
// not run inside the host. The host-side manager starts it, reaches its
// manager through COM's local-server activation, and creates plug-in class
// objects in it; open file handles cross into it by duplication. This header
// declares what both sides share: the surrogate manager's interface and ids,
// the process-wide surrogate state, handle duplication and the start of the
// process.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvapi.h"
#include "kvdizuvo.h"
#include "kvfiomanager.h"
#include "kvsurrogateapi.h"

KV_EXTERN_C_BEGIN
// Duplicates `handle` of this process into process `processId` with the same
// access (not inheritable). S_OK, or the Win32 error as an HRESULT (E_FAIL when
// the system gives no error code).
HRESULT KVAPI DuplicateHandleToProcessId(HANDLE handle, DWORD processId, HANDLE* out);

// Inside the surrogate process: a manager flagged as the surrogate's, with the
// settings paths of the application at `appPath`, the application's texts and
// numbers and the initial metrics; *out receives it (null on failure).
HRESULT KVAPI KVDizuVO_CreateSurrogateManagerInstance(IKvDizuVOMgrForApp** out, DWORD flags,
                                                      const _KVFIO_INITIALIZATION_METRICS* metrics,
                                                      const wchar_t* appPath, const wchar_t* appText, DWORD appNumber,
                                                      DWORD appValue);
KV_EXTERN_C_END

// Starts the surrogate program suspended, lets the optional error-report
// module watch it, resumes it and gives its process id (0 on failure).
HRESULT KvFio_StartSurrogateProcess(DWORD* processId);

// The process-wide surrogate state: the managers of this process connected to
// the surrogate, and the id of the surrogate this process started (0: none).
// Changed only under a manager's access mutex.
LONG KvFio_SurrogateUserCount();
// Adds `delta` to the user count; the new count.
LONG KvFio_AddSurrogateUser(LONG delta);
void KvFio_SetSurrogateProcessId(DWORD id);
// Calls the error-report module's stop hook for `processId`, when loaded.
void KvFio_ErrorReportStop(DWORD processId);

// The calling thread's last error as an HRESULT; E_FAIL when it holds no error.
HRESULT KvFio_LastErrorResult();

// The results that say the surrogate (or the object's process) has gone.
bool KvFio_IsProcessGone(HRESULT hr);

// The surrogate manager's face over a manager made by
// KVDizuVO_CreateSurrogateManagerInstance (which answers IID_IKvSurrogateManager
// with it): a separate object holding a reference to the manager.
HRESULT KvFio_CreateSurrogateFace(CKvDizuVOManager* manager, IKvSurrogateManager** out);

// The worker thread of a manager: a multithreaded-apartment thread that runs
// one call at a time for its callers (class-object loads).
class CKvWorkerThread {
 public:
  typedef DWORD(__stdcall* Function)(DWORD_PTR argument);
  CKvWorkerThread() = default;
  ~CKvWorkerThread() { Stop(); }
  CKvWorkerThread(const CKvWorkerThread&) = delete;
  CKvWorkerThread& operator=(const CKvWorkerThread&) = delete;

  HRESULT Start();
  void Stop();
  // Runs function(argument) on the thread and gives its result; on the worker
  // thread itself the function is called directly.
  HRESULT Run(Function function, DWORD_PTR argument, DWORD* result);
  DWORD ThreadId() const { return threadId_; }
  bool Running() const { return thread_ != nullptr; }

 private:
  static unsigned __stdcall Main(void* self);
  volatile LONG stop_ = 0;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  HANDLE request_ = nullptr;
  HANDLE done_ = nullptr;
  Function function_ = nullptr;
  DWORD_PTR argument_ = 0;
  DWORD result_ = 0;
};
