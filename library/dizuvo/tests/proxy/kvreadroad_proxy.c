/* The generated proxies and stubs, built without compiler-level structured
   exception handling (the cross compiler has none): the try blocks run
   straight through, so a marshaling failure is not caught. Test use only,
   within one process. */
#define USE_COMPILER_EXCEPTIONS
#include <objbase.h>
#include <rpcproxy.h>
#undef RpcTryExcept
#undef RpcExcept
#undef RpcEndExcept
#undef RpcTryFinally
#undef RpcFinally
#undef RpcEndFinally
#undef RpcExceptionCode
#define RpcTryExcept {
#define RpcExcept(expr) } if (0) {
#define RpcEndExcept }
#define RpcTryFinally {
#define RpcFinally } {
#define RpcEndFinally }
#define RpcExceptionCode() 0

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown*, REFIID, void**);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown*);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown*);

#include "kvreadroad_p.c"
