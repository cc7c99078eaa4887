/* What a widl-generated proxy/stub file needs around it to build with the
   small exception frames of kvfio_seh.h in place of compiler-level structured
   exception handling (the cross compiler has none): the RPC exception macros
   mapped onto those frames, so that a failure raised while a call is marshaled
   comes back as the call's HRESULT. The finally blocks run on the normal path
   only. Include it, then the generated _p.c file. */
#ifndef KVFIO_RPCSEH_H
#define KVFIO_RPCSEH_H
#define USE_COMPILER_EXCEPTIONS
#include <objbase.h>
#include <rpcproxy.h>

#include "kvfio_seh.h"
#undef RpcTryExcept
#undef RpcExcept
#undef RpcEndExcept
#undef RpcTryFinally
#undef RpcFinally
#undef RpcEndFinally
#undef RpcExceptionCode
#define RpcTryExcept KV_SEH_TRY(kvseh_)
#define RpcExcept(expr) KV_SEH_EXCEPT(kvseh_)
#define RpcEndExcept KV_SEH_END
#define RpcTryFinally {
#define RpcFinally } {
#define RpcEndFinally }
#define RpcExceptionCode() (kvseh_.code)

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown*, REFIID, void**);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown*);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown*);
#endif
