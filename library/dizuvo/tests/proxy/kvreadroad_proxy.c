/* The generated proxies and stubs, built with the small exception frames of
   kvseh.h in place of compiler-level structured exception handling (the cross
   compiler has none): a failure raised while a call is marshaled (for example
   a proxy whose apartment has gone) comes back as the call's HRESULT. The
   finally blocks run on the normal path only. Test use only. */
#define USE_COMPILER_EXCEPTIONS
#include <objbase.h>
#include <rpcproxy.h>

#include "kvseh.h"
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

#include "kvreadroad_p.c"
