// The stream-format record.
#include "ffbase_streamformat.h"

#include <cstring>
#include <new>

#include "kvaudio.h"

namespace ffbase {

namespace {

BYTE* Bytes(_KVFILESTREAMFORMATINFOv2* record) { return reinterpret_cast<BYTE*>(record); }
const BYTE* Bytes(const _KVFILESTREAMFORMATINFOv2* record) { return reinterpret_cast<const BYTE*>(record); }

// The record's format area as a full wave-format record (the rest zero).
void ReadFormatArea(const _KVFILESTREAMFORMATINFOv2* record, _kvwaveformat* out) {
  std::memset(out, 0, sizeof *out);
  std::memcpy(out, Bytes(record) + kStreamFormatFormatOffset, kStreamFormatFormatSize);
}

}  // namespace

HRESULT SetAudioStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format, LONGLONG length) {
  if (!record) return E_INVALIDARG;
  BYTE* bytes = Bytes(record);
  std::memset(bytes, 0, kKvFileStreamFormatInfoV2Size);
  DWORD header[2] = {kKvFileStreamFormatInfoV2Size, kStreamFormatTypeAudio};
  std::memcpy(bytes, header, sizeof header);
  std::memcpy(bytes + kStreamFormatLengthOffset, &length, sizeof length);
  if (format) {
    _kvwaveformat* wf = new (std::nothrow) _kvwaveformat;
    if (!wf) return E_OUTOFMEMORY;
    std::memset(wf, 0, sizeof *wf);
    WAVEFORMATEX head;
    std::memcpy(&head, format, sizeof head);
    head.cbSize = 0;
    wf->Init(static_cast<DWORD>(kStreamFormatFormatSize), head);
    std::memcpy(bytes + kStreamFormatFormatOffset, wf, kStreamFormatFormatSize);
    delete wf;
  }
  return S_OK;
}

bool IsEmptyStreamFormat(const _KVFILESTREAMFORMATINFOv2* record) {
  DWORD header[2];
  std::memcpy(header, Bytes(record), sizeof header);
  if (header[0] == 0 || header[1] == 0) return true;
  _kvwaveformat* wf = new (std::nothrow) _kvwaveformat;
  if (!wf) return false;
  ReadFormatArea(record, wf);
  bool empty = wf->IsCompressed() ? wf->FormatTag() == 0 : wf->SampleType == 0;
  delete wf;
  return empty;
}

bool StreamFormatEquals(const _KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format) {
  _kvwaveformat* a = new (std::nothrow) _kvwaveformat;
  _kvwaveformat* b = new (std::nothrow) _kvwaveformat;
  bool equal = false;
  if (a && b) {
    ReadFormatArea(record, a);
    std::memset(b, 0, sizeof *b);
    WAVEFORMATEX head;
    std::memcpy(&head, format, sizeof head);
    head.cbSize = 0;
    b->Init(static_cast<DWORD>(kStreamFormatFormatSize), head);
    equal = *a == *b;
  }
  delete a;
  delete b;
  return equal;
}

}  // namespace ffbase
