// libFuzzer target: arbitrary bytes as a template stream (V2 or V1 form) and
// as a template file, in buffers of exactly their size. Every record a loader
// accepts goes through the string, copy, identity and information functions,
// so the sanitizers see any access outside it.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kvtemplate_internal.h"

namespace {

class Source : public kvtemplate::ByteSource {
 public:
  Source(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  HRESULT Read(void* dst, DWORD n, DWORD* got) override {
    size_t k = n < n_ - pos_ ? n : n_ - pos_;
    std::memcpy(dst, d_ + pos_, k);
    pos_ += k;
    *got = static_cast<DWORD>(k);
    return S_OK;
  }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t pos_ = 0;
};

void Exercise(tagKVTEMPLATExV2* t) {
  const WCHAR* name = KvFio_GetTemplateName(t);
  const WCHAR* desc = KvFio_GetTemplateDescription(t);
  volatile size_t sink = kvtemplate::StrLen16(name) + kvtemplate::StrLen16(desc);
  (void)sink;
  KvFio_GetTemplateDataCRC32(t, TRUE);
  BYTE buf[64];
  for (DWORD id = 0; id <= 23; ++id) KvFio_GetTemplateInfo(t, 3, buf, sizeof buf, static_cast<KVFIO_TEMPLATE_INFO>(id));
  tagKVTEMPLATExV2* copy = nullptr;
  if (SUCCEEDED(KvFio_CopyTemplate(&copy, t))) {
    KvFio_SetTemplateStrings(copy, nullptr, name);
    KvFio_ReleaseTemplate(copy);
  }
  KvFio_ReleaseTemplate(KvFio_CopyTemplateRenamed(t, nullptr, nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const DWORD maxVersion = static_cast<DWORD>(data[0] % 3) << 24;
  ++data;
  --size;
  Source source(data, size);
  tagKVTEMPLATExV2* t = nullptr;
  bool wasV1 = false;
  if (SUCCEEDED(kvtemplate::LoadRecord(&t, source, maxVersion, &wasV1))) {
    Exercise(t);
    KvFio_ReleaseTemplate(t);
  }
  // The same bytes as a whole file, in a block of exactly their size (the
  // file loader allocates at least the declared record).
  std::vector<BYTE> file(data, data + size);
  if (file.size() < kKvTemplateBasicSize) return 0;
  if (SUCCEEDED(kvtemplate::CheckFileImage(file.data(), file.size())) && file[3 + 4] == 2)
    Exercise(reinterpret_cast<tagKVTEMPLATExV2*>(file.data()));
  return 0;
}
