/* The generated proxies and stubs of kvfio.idl, built with the small
   exception frames of kvfio_seh.h in place of compiler-level structured
   exception handling (the cross compiler has none): a failure raised while a
   call is marshaled (the surrogate process has gone, a proxy whose apartment
   has ended) comes back to the caller as the call's HRESULT instead of an
   uncaught exception. The finally blocks run on the normal path only. */
#include "kvfio_rpcseh.h"

#include "kvfio_p.c"
