/* The generated proxies and stubs of kvfio.idl, built with the small
   exception frames of kvfio_seh.h in place of compiler-level structured
   exception handling (the cross compiler has none): a failure raised while a
   call is marshaled (the surrogate process has gone, a proxy whose apartment
   has ended) comes back to the caller as the call's HRESULT instead of an
   uncaught exception. The finally blocks run on the normal path only. */
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

#include "kvfio_p.c"
