/* The proxy/stub DLL's entry points: the class object of its proxy/stub
   factory, and self-registration (regsvr32) of every interface it marshals
   under that class. The class id is the plug-in info interface's id, one of
   the ids this DLL serves. */
#define REGISTER_PROXY_DLL
#define PROXY_CLSID_IS {0x404e18a7, 0xc288, 0x4499, {0x8e, 0x42, 0x33, 0xfe, 0xcf, 0xa1, 0x64, 0x2c}}
#include <windows.h>
#include <rpcproxy.h>

EXTERN_PROXY_FILE(kvfio)

PROXYFILE_LIST_START
  REFERENCE_PROXY_FILE(kvfio),
PROXYFILE_LIST_END

DLLDATA_ROUTINES(aProxyFileList, GET_DLL_CLSID)
