/* Test proxies of the plug-in interfaces, registered per apartment. */
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The generated interface ids, renamed so that they do not meet the
   program's own definitions. */
extern const IID KvTestIID_ReadFileClass;
extern const IID KvTestIID_ReadFile;
extern const IID KvTestIID_ReadStream;
extern const IID KvTestIID_ReadAudioStream;
extern const IID KvTestIID_ReadMeta;
extern const IID KvTestIID_ReadVideoStream;
extern const IID KvTestIID_RenderFileClass;

/* Registers the proxies in the calling thread's apartment (COM must be
   initialised); a cookie for KvTestProxies_Revoke, 0 on failure. */
DWORD KvTestProxies_Register(void);
void KvTestProxies_Revoke(DWORD cookie);

#ifdef __cplusplus
}
#endif
