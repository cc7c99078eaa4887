/* Registers the test proxies of the read-road interfaces in the calling
   thread's apartment: the proxy/stub factory as a class object, and that
   class for each interface id. */
#include <objbase.h>
#include <rpcproxy.h>

#include "kvreadroad_proxy_api.h"

EXTERN_PROXY_FILE(kvreadroad)

PROXYFILE_LIST_START
  REFERENCE_PROXY_FILE(kvreadroad),
PROXYFILE_LIST_END

static CStdPSFactoryBuffer gPFactory = {0, 0, 0, 0};
CSTDSTUBBUFFERRELEASE(&gPFactory)
CSTDSTUBBUFFER2RELEASE(&gPFactory)

/* The factory's class id: any id of ours serves; the first interface's. */
static const CLSID kProxyClsid = {0xeef647f1, 0x02ab, 0x4fcd, {0xb0, 0x6e, 0xa5, 0x01, 0xae, 0xff, 0x2d, 0x34}};

static const IID* const kInterfaces[] = {&KvTestIID_ReadFileClass, &KvTestIID_ReadFile, &KvTestIID_ReadStream,
                                         &KvTestIID_ReadAudioStream, &KvTestIID_ReadMeta,
                                         &KvTestIID_ReadVideoStream, &KvTestIID_RenderFileClass};

DWORD KvTestProxies_Register(void) {
  IUnknown* factory = NULL;
  DWORD cookie = 0;
  unsigned i;
  if (FAILED(NdrDllGetClassObject(&kProxyClsid, &IID_IPSFactoryBuffer, (void**)&factory, aProxyFileList,
                                  &kProxyClsid, &gPFactory)) || !factory) {
    return 0;
  }
  if (FAILED(CoRegisterClassObject(&kProxyClsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie))) cookie = 0;
  factory->lpVtbl->Release(factory);
  if (!cookie) return 0;
  for (i = 0; i < sizeof kInterfaces / sizeof kInterfaces[0]; ++i) CoRegisterPSClsid(kInterfaces[i], &kProxyClsid);
  return cookie;
}

void KvTestProxies_Revoke(DWORD cookie) {
  if (cookie) CoRevokeClassObject(cookie);
}
