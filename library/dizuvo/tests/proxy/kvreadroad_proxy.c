/* The generated proxies and stubs, built with the small exception frames of
   kvfio_seh.h in place of compiler-level structured exception handling (the cross
   compiler has none): a failure raised while a call is marshaled (for example
   a proxy whose apartment has gone) comes back as the call's HRESULT. The
   finally blocks run on the normal path only. Test use only. */
#include "kvfio_rpcseh.h"

#include "kvreadroad_p.c"
