/* The local forms of the render slots whose arguments cannot cross between
   processes as they are (kvfio.idl marks them [local] and gives each a wire
   form):
   - a render template is a record whose first word is its total size: it
     crosses as that many bytes. A template handed back to the caller is
     allocated with the C runtime's allocator (the caller frees it with free),
     as an object in the caller's own process would do; the object's template
     is freed with free on its side once it has been copied.
   - the host's progress sink has no interface id of its own: the caller's
     side puts a face (IKvRenderProgress) over it, which the render calls back
     through, and which forwards slots 3 and 6 to the sink's own slots. */
#include <stdlib.h>
#include <string.h>

#include "kvfio.h"

/* A template larger than this is refused: no record of ours comes near it,
   and a wrong first word must not send gigabytes across. */
#define KV_MAX_TEMPLATE_BYTES (16u << 20)
/* The size of a basic template: a shorter block is padded to it with zeros,
   as the template copy on the object's side does. */
#define KV_BASIC_TEMPLATE_BYTES 540u

/* The byte count of the template at `tmpl` (0 for none). */
static HRESULT TemplateBytes(const void* tmpl, DWORD* cb) {
  DWORD size = 0;
  *cb = 0;
  if (!tmpl) return S_OK;
  memcpy(&size, tmpl, sizeof size);
  if (size < sizeof size || size > KV_MAX_TEMPLATE_BYTES) return E_INVALIDARG;
  *cb = size;
  return S_OK;
}

/* A template that came across as `cb` bytes, as a record the caller frees with
   free. */
static HRESULT TakeTemplate(const BYTE* wire, DWORD cb, void** out) {
  DWORD size = 0;
  BYTE* copy;
  *out = NULL;
  if (!wire || cb == 0) return S_OK;
  if (cb < sizeof size || cb > KV_MAX_TEMPLATE_BYTES) return RPC_X_BAD_STUB_DATA;
  memcpy(&size, wire, sizeof size);
  if (size != cb) return RPC_X_BAD_STUB_DATA;
  copy = (BYTE*)calloc(1, cb < KV_BASIC_TEMPLATE_BYTES ? KV_BASIC_TEMPLATE_BYTES : cb);
  if (!copy) return E_OUTOFMEMORY;
  memcpy(copy, wire, cb);
  *out = copy;
  return S_OK;
}

/* The object's template (freed here) as bytes for the wire. */
static HRESULT GiveTemplate(void* tmpl, DWORD* cb, BYTE** wire) {
  DWORD size = 0;
  HRESULT hr;
  *cb = 0;
  *wire = NULL;
  if (!tmpl) return S_OK;
  hr = TemplateBytes(tmpl, &size);
  if (SUCCEEDED(hr)) {
    *wire = (BYTE*)CoTaskMemAlloc(size);
    if (*wire) {
      memcpy(*wire, tmpl, size);
      *cb = size;
    } else {
      hr = E_OUTOFMEMORY;
    }
  }
  free(tmpl);
  return hr;
}

/* --- Render templates ----------------------------------------------------------- */

HRESULT CALLBACK IKvRenderFileClass_CreateRenderFile_Proxy(IKvRenderFileClass* This, IKvRenderFile** file,
                                                           const wchar_t* path, int streamCount,
                                                           IKvReadStream** streams, const void* tmpl) {
  DWORD cb = 0;
  HRESULT hr;
  if (!file) return E_INVALIDARG;
  *file = NULL;
  hr = TemplateBytes(tmpl, &cb);
  if (FAILED(hr)) return hr;
  /* The object reads `streamCount` streams only when it is given any. */
  if (!streams || streamCount < 0) streamCount = 0;
  return IKvRenderFileClass_RemoteCreateRenderFile_Proxy(This, file, path, streamCount,
                                                         streamCount ? streams : NULL, cb, (const BYTE*)tmpl);
}

HRESULT __RPC_STUB IKvRenderFileClass_CreateRenderFile_Stub(IKvRenderFileClass* This, IKvRenderFile** file,
                                                           const wchar_t* path, int streamCount,
                                                           IKvReadStream** streams, DWORD cbTemplate,
                                                           const BYTE* tmpl) {
  DWORD size = 0;
  if (tmpl) {
    if (cbTemplate < sizeof size) return E_INVALIDARG;
    memcpy(&size, tmpl, sizeof size);
    if (size != cbTemplate) return E_INVALIDARG;
  }
  return This->lpVtbl->CreateRenderFile(This, file, path, streamCount, streams, tmpl);
}

HRESULT CALLBACK IKvRenderFileClass_GetTemplate_Proxy(IKvRenderFileClass* This, void** tmpl, int index) {
  DWORD cb = 0;
  BYTE* wire = NULL;
  HRESULT hr;
  if (!tmpl) return E_POINTER;
  *tmpl = NULL;
  hr = IKvRenderFileClass_RemoteGetTemplate_Proxy(This, &cb, &wire, index);
  if (SUCCEEDED(hr)) {
    HRESULT taken = TakeTemplate(wire, cb, tmpl);
    if (FAILED(taken)) hr = taken;
  }
  CoTaskMemFree(wire);
  return hr;
}

HRESULT __RPC_STUB IKvRenderFileClass_GetTemplate_Stub(IKvRenderFileClass* This, DWORD* cbTemplate, BYTE** tmpl,
                                                      int index) {
  void* own = NULL;
  HRESULT hr = This->lpVtbl->GetTemplate(This, &own, index);
  HRESULT given = GiveTemplate(own, cbTemplate, tmpl);
  return FAILED(hr) ? hr : FAILED(given) ? given : hr;
}

HRESULT CALLBACK IKvRenderFileClass_GetTemplateInfo_Proxy(IKvRenderFileClass* This, const void* tmpl, void* buf,
                                                          DWORD cb, DWORD infoId) {
  DWORD cbTemplate = 0;
  HRESULT hr = TemplateBytes(tmpl, &cbTemplate);
  if (FAILED(hr)) return hr;
  if (!buf) cb = 0;
  return IKvRenderFileClass_RemoteGetTemplateInfo_Proxy(This, cbTemplate, (const BYTE*)tmpl, (BYTE*)buf, cb, infoId);
}

HRESULT __RPC_STUB IKvRenderFileClass_GetTemplateInfo_Stub(IKvRenderFileClass* This, DWORD cbTemplate,
                                                          const BYTE* tmpl, BYTE* buf, DWORD cb, DWORD infoId) {
  (void)cbTemplate;
  return This->lpVtbl->GetTemplateInfo(This, tmpl, buf, cb, infoId);
}

HRESULT CALLBACK IKvRenderFile_GetTemplate_Proxy(IKvRenderFile* This, void** tmpl, DWORD reserved) {
  DWORD cb = 0;
  BYTE* wire = NULL;
  HRESULT hr;
  if (!tmpl) return E_POINTER;
  *tmpl = NULL;
  hr = IKvRenderFile_RemoteGetTemplate_Proxy(This, &cb, &wire, reserved);
  if (SUCCEEDED(hr)) {
    HRESULT taken = TakeTemplate(wire, cb, tmpl);
    if (FAILED(taken)) hr = taken;
  }
  CoTaskMemFree(wire);
  return hr;
}

HRESULT __RPC_STUB IKvRenderFile_GetTemplate_Stub(IKvRenderFile* This, DWORD* cbTemplate, BYTE** tmpl,
                                                 DWORD reserved) {
  void* own = NULL;
  HRESULT hr = This->lpVtbl->GetTemplate(This, &own, reserved);
  HRESULT given = GiveTemplate(own, cbTemplate, tmpl);
  return FAILED(hr) ? hr : FAILED(given) ? given : hr;
}

/* --- The progress sink's face ------------------------------------------------------ */

/* The host's sink as the render calls it: slot 3 and slot 6. */
typedef struct HostSinkVtbl {
  void* queryInterface;
  void* addRef;
  void* release;
  HRESULT(STDMETHODCALLTYPE* Begin)(IUnknown* This, DWORD reserved, LONGLONG totalFrames);
  void* slot4;
  void* slot5;
  HRESULT(STDMETHODCALLTYPE* Position)(IUnknown* This, LONGLONG position);
} HostSinkVtbl;

typedef struct ProgressFace {
  IKvRenderProgress face;
  LONG refs;
  IUnknown* volatile sink;
} ProgressFace;

static HRESULT STDMETHODCALLTYPE Face_QueryInterface(IKvRenderProgress* This, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = NULL;
  if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IKvRenderProgress)) return E_NOINTERFACE;
  *out = This;
  This->lpVtbl->AddRef(This);
  return S_OK;
}

static ULONG STDMETHODCALLTYPE Face_AddRef(IKvRenderProgress* This) {
  return (ULONG)InterlockedIncrement(&((ProgressFace*)This)->refs);
}

static ULONG STDMETHODCALLTYPE Face_Release(IKvRenderProgress* This) {
  ProgressFace* face = (ProgressFace*)This;
  LONG left = InterlockedDecrement(&face->refs);
  if (left == 0) free(face);
  return (ULONG)left;
}

static HRESULT STDMETHODCALLTYPE Face_Begin(IKvRenderProgress* This, DWORD reserved, LONGLONG totalFrames) {
  IUnknown* sink = ((ProgressFace*)This)->sink;
  if (!sink) return E_ABORT;
  return ((const HostSinkVtbl*)sink->lpVtbl)->Begin(sink, reserved, totalFrames);
}

static HRESULT STDMETHODCALLTYPE Face_HostSlot(IKvRenderProgress* This) {
  (void)This;
  return E_NOTIMPL;
}

static HRESULT STDMETHODCALLTYPE Face_Position(IKvRenderProgress* This, LONGLONG position) {
  IUnknown* sink = ((ProgressFace*)This)->sink;
  if (!sink) return E_ABORT;
  return ((const HostSinkVtbl*)sink->lpVtbl)->Position(sink, position);
}

static const IKvRenderProgressVtbl kFaceVtbl = {Face_QueryInterface, Face_AddRef, Face_Release, Face_Begin,
                                                Face_HostSlot,       Face_HostSlot, Face_Position};

HRESULT CALLBACK IKvRenderFile_Render_Proxy(IKvRenderFile* This, IUnknown* progress) {
  ProgressFace* face;
  HRESULT hr;
  if (!progress) return IKvRenderFile_RemoteRender_Proxy(This, NULL);
  face = (ProgressFace*)calloc(1, sizeof *face);
  if (!face) return E_OUTOFMEMORY;
  face->face.lpVtbl = (IKvRenderProgressVtbl*)&kFaceVtbl;
  face->refs = 1;
  face->sink = progress;
  hr = IKvRenderFile_RemoteRender_Proxy(This, &face->face);
  /* The sink is the host's for the call only: the other process may let go
     of the face later (or never), and then finds no sink behind it. */
  face->sink = NULL;
  Face_Release(&face->face);
  return hr;
}

HRESULT __RPC_STUB IKvRenderFile_Render_Stub(IKvRenderFile* This, IKvRenderProgress* progress) {
  return This->lpVtbl->Render(This, (IUnknown*)progress);
}
