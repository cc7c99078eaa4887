// Template identity by MD5: a name-based GUID made from the template's data.
// The MD5 routines come from the system's Cryptdll.dll, loaded on first use
// and kept for the life of the process.
#include <windows.h>

#include <cstring>

#include "kvtemplate_internal.h"

namespace {

// The context the system's MD5 routines work on; the digest lands in its
// last 16 bytes.
struct Md5Context {
  ULONG count[2];
  ULONG state[4];
  unsigned char input[64];
  unsigned char digest[16];
};

typedef void(WINAPI* Md5InitFn)(Md5Context*);
typedef void(WINAPI* Md5UpdateFn)(Md5Context*, const unsigned char*, unsigned int);
typedef void(WINAPI* Md5FinalFn)(Md5Context*);

struct Md5Provider {
  Md5InitFn init = nullptr;
  Md5UpdateFn update = nullptr;
  Md5FinalFn finish = nullptr;
  bool Usable() const { return init && update && finish; }
};

Md5Provider LoadProvider() {
  Md5Provider p;
  HMODULE dll = LoadLibraryW(L"Cryptdll.dll");
  if (!dll) return p;
  p.init = reinterpret_cast<Md5InitFn>(reinterpret_cast<void*>(GetProcAddress(dll, "MD5Init")));
  p.update = reinterpret_cast<Md5UpdateFn>(reinterpret_cast<void*>(GetProcAddress(dll, "MD5Update")));
  p.finish = reinterpret_cast<Md5FinalFn>(reinterpret_cast<void*>(GetProcAddress(dll, "MD5Final")));
  if (!p.Usable()) {
    FreeLibrary(dll);
    return Md5Provider();
  }
  return p;
}

const Md5Provider& Provider() {
  static const Md5Provider provider = LoadProvider();
  return provider;
}

// The text every template hash starts with, its terminating NUL included.
const char kHashPrefix[] = "Viruvu2007 V2 Template Data";
static_assert(sizeof kHashPrefix == 28, "28 bytes with the NUL");

}  // namespace

HRESULT KVAPI KvFio_InitGUIDFromTemplateMD5DataHash(GUID* out, const tagKVTEMPLATExV2* t, BOOL withStrings) {
  if (!out || !t) return E_INVALIDARG;
  const Md5Provider& md5 = Provider();
  if (!md5.Usable()) return E_NOTIMPL;
  Md5Context ctx;
  std::memset(&ctx, 0, sizeof ctx);
  md5.init(&ctx);
  auto add = [&](const void* p, size_t n) {
    if (n) md5.update(&ctx, static_cast<const unsigned char*>(p), static_cast<unsigned int>(n));
  };
  add(kHashPrefix, sizeof kHashPrefix);
  add(reinterpret_cast<const BYTE*>(t) + kKvTemplateBodyOffset, kKvTemplateBodySize);
  kvtemplate::Layout l = kvtemplate::RecordLayout(t);
  add(kvtemplate::CodecBlock(t), l.blockBytes);
  if (withStrings) {
    const WCHAR* name = KvFio_GetTemplateName(t);
    const WCHAR* desc = KvFio_GetTemplateDescription(t);
    add(name, kvtemplate::StrLen16(name) * sizeof(WCHAR));
    add(desc, kvtemplate::StrLen16(desc) * sizeof(WCHAR));
  }
  md5.finish(&ctx);
  BYTE d[16];
  std::memcpy(d, ctx.digest, 16);
  // A version-3 (name-based) identifier: Data3's high nibble is 3 (byte 7 in
  // memory order), the variant bits of Data4[0] are 10.
  d[7] = static_cast<BYTE>((d[7] & 0x0F) | 0x30);
  d[8] = static_cast<BYTE>((d[8] & 0x3F) | 0x80);
  std::memcpy(out, d, 16);
  return S_OK;
}
