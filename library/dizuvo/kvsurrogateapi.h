// The surrogate manager's interface, its ids and the surrogate program's name:
// what the host-side manager, the surrogate program and the proxies share.
#pragma once

#include <windows.h>
#include <unknwn.h>

// The surrogate's manager as the host's manager sees it. The surrogate
// registers its class object under the fallback class id with its first field
// XORed with the surrogate's process id, and under the fallback id itself.
inline constexpr IID IID_IKvSurrogateManager = {0x7618d4f5, 0xdf31, 0x45e9, {0x9d, 0x39, 0x40, 0xfd, 0x90, 0xd4, 0x4c, 0x9b}};
inline constexpr CLSID CLSID_KvSurrogateManagerFallback = {
    0x5cdf45f4, 0x888c, 0x461a, {0x8a, 0xb2, 0x5a, 0xaa, 0x01, 0x5b, 0x46, 0x42}};

// Slots 3 to 9; the order is the slot order (kept in step with
// proxy/kvfio.idl, which marshals it).
struct IKvSurrogateManager : public IUnknown {
  // The surrogate's process id.
  virtual HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* processId) = 0;                            // 3
  // Loads the DLL at `dllPath` in the surrogate (once), asks its class-object
  // entry for `classId` and creates an object with interface `iid`. A reader
  // or renderer class object is given the surrogate's own manager.
  virtual HRESULT STDMETHODCALLTYPE CreateClassObject(const wchar_t* dllPath, const GUID* classId, REFIID iid,
                                                      IUnknown** out) = 0;                         // 4
  // Closes a handle that was duplicated into the surrogate (64 bits wide in
  // every build).
  virtual HRESULT STDMETHODCALLTYPE CloseDuplicateHandle(ULONGLONG handle) = 0;                    // 5
  // The calling host's manager lets go of the surrogate. When no host is
  // attached any more the surrogate ends after its idle time. (COM may not
  // deliver a host's last release in time; this call does not depend on it.)
  virtual HRESULT STDMETHODCALLTYPE Detach() = 0;                                                  // 6
  // Adds a plug-in DLL to the surrogate's manager; FinishRegistration then
  // registers the added DLLs and builds the surrogate manager's lists.
  virtual HRESULT STDMETHODCALLTYPE AddPluginDLL(const wchar_t* dllPath) = 0;                      // 7
  virtual HRESULT STDMETHODCALLTYPE FinishRegistration() = 0;                                      // 8
  // Edits a template with the surrogate's renderer `rendererId`: the host's
  // manager forwards its EditTemplate here for a renderer that runs in the
  // surrogate, and the surrogate's manager edits as it does in process. The
  // arguments are the manager's (the window handle as a word, the placement
  // as 7 words or null); the current template comes as `cbCurrent` bytes, and
  // the resulting one (or none) goes back as *cbResult bytes at *result,
  // allocated with CoTaskMemAlloc.
  virtual HRESULT STDMETHODCALLTYPE EditTemplate(DWORD_PTR owner, const GUID* rendererId, DWORD value,
                                                 const DWORD* placement, DWORD* flags, IStream* templates,
                                                 DWORD cbCurrent, const BYTE* current, DWORD* cbResult,
                                                 BYTE** result) = 0;                               // 9
};
__CRT_UUID_DECL(IKvSurrogateManager, 0x7618d4f5, 0xdf31, 0x45e9, 0x9d, 0x39, 0x40, 0xfd, 0x90, 0xd4, 0x4c, 0x9b)

// The program the host starts, from the host executable's folder.
inline constexpr wchar_t kKvSurrogateExeName[] = L"DizuVOSurrogate.exe";
